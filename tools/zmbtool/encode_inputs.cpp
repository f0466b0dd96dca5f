// SPDX-License-Identifier: MIT
// zmbtool encode's picture files as people name them.
#include "encode_inputs.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace zmbtool {
namespace {

namespace fs = std::filesystem;

// A numbered series: the folder, and the file name as a printf format with one %lld.
struct Series {
    fs::path folder;
    std::string format;
};

std::string NameOf(const Series& series, long long number) {
    char name[4096];
    std::snprintf(name, sizeof name, series.format.c_str(), number);
    return name;
}

std::string PathOf(const Series& series, long long number) {
    return (series.folder / NameOf(series, number)).string();
}

// "%d" or "%0Nd" (N at most 18) once, and "%%" anywhere, become a format for one long long.
bool SeriesFromPattern(const std::string& pattern, Series* series, std::string* error) {
    const fs::path path(pattern);
    series->folder = path.parent_path();
    const std::string name = path.filename().string();
    std::string format;
    int conversions = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '%') {
            format += name[i];
            continue;
        }
        if (i + 1 < name.size() && name[i + 1] == '%') {
            format += "%%";
            ++i;
            continue;
        }
        std::size_t end = i + 1;
        std::string width;
        while (end < name.size() && name[end] >= '0' && name[end] <= '9') width += name[end++];
        const bool padded = width.empty() || width[0] == '0';
        if (end >= name.size() || name[end] != 'd' || !padded || width.size() > 3 ||
            (!width.empty() && std::stoi(width) > 18)) {
            *error = pattern + ": a pattern takes one %d or %0Nd (N up to 18), and %% for a %";
            return false;
        }
        format += "%" + width + "lld";
        ++conversions;
        i = end;
    }
    if (conversions != 1 || series->folder.string().find('%') != std::string::npos) {
        *error = pattern + ": a pattern takes exactly one %d or %0Nd, in the file name";
        return false;
    }
    series->format = format;
    return true;
}

// The first file's name with its last run of digits as the number; `first` is that number.
bool SeriesFromFirst(const std::string& firstFile, Series* series, long long* first,
                     std::string* error) {
    const fs::path path(firstFile);
    std::string name = path.filename().string();
    const std::size_t last = name.find_last_of("0123456789");
    if (last == std::string::npos) {
        *error = firstFile +
                 ": the name has no number to count on from (give every file, or a "
                 "pattern such as frame%04d.png)";
        return false;
    }
    std::size_t start = last;
    while (start > 0 && name[start - 1] >= '0' && name[start - 1] <= '9') --start;
    const std::size_t width = last + 1 - start;
    if (width > 18) {
        *error = firstFile + ": the number in the name is too long";
        return false;
    }
    *first = std::stoll(name.substr(start, width));
    std::string escaped;
    for (char c : name.substr(0, start) + "\x01" + name.substr(last + 1))
        escaped += c == '%'      ? std::string("%%")
                   : c == '\x01' ? "%0" + std::to_string(width) + "lld"
                                 : std::string(1, c);
    series->folder = path.parent_path();
    series->format = escaped;
    return true;
}

// The numbers of the files in the folder whose names the series gives exactly, ascending.
std::vector<long long> NumbersPresent(const Series& series) {
    std::vector<long long> numbers;
    std::error_code failure;
    const fs::path folder = series.folder.empty() ? fs::path(".") : series.folder;
    for (fs::directory_iterator it(folder, failure), end; !failure && it != end;
         it.increment(failure)) {
        const std::string name = it->path().filename().string();
        const std::size_t digits = name.find_first_of("0123456789");
        if (digits == std::string::npos) continue;
        // Try every run of digits: the series' prefix may hold digits of its own.
        for (std::size_t at = digits; at < name.size(); ++at) {
            if (name[at] < '0' || name[at] > '9' ||
                (at > 0 && name[at - 1] >= '0' && name[at - 1] <= '9'))
                continue;
            std::size_t to = at;
            while (to < name.size() && name[to] >= '0' && name[to] <= '9' && to - at < 18) ++to;
            const long long number = std::stoll(name.substr(at, to - at));
            if (NameOf(series, number) == name) numbers.push_back(number);
        }
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

bool TakeSeries(const Series& series, long long first, const PictureInputs& inputs,
                std::vector<std::string>* files, std::vector<std::string>* missing,
                std::string* error) {
    const std::vector<long long> numbers = NumbersPresent(series);
    auto next = std::lower_bound(numbers.begin(), numbers.end(), first);
    long long expected = first;
    for (; next != numbers.end(); ++next, ++expected) {
        if (inputs.count >= 0 && static_cast<long>(files->size()) >= inputs.count) break;
        if (*next != expected && !inputs.allowGaps) {
            *error = PathOf(series, expected) + " is missing, but " + PathOf(series, *next) +
                     " follows (--allow-gaps steps over missing numbers, --count N stops "
                     "before them)";
            return false;
        }
        if (*next != expected) missing->push_back(PathOf(series, expected));
        files->push_back(PathOf(series, *next));
        expected = *next;
    }
    return true;
}

}  // namespace

bool PictureFiles(const PictureInputs& inputs, std::vector<std::string>* files,
                  std::vector<std::string>* missing, std::string* error) {
    files->clear();
    missing->clear();
    if (inputs.names.size() > 1) {
        for (const std::string& name : inputs.names)
            if (inputs.count < 0 || static_cast<long>(files->size()) < inputs.count)
                files->push_back(name);
        return true;
    }
    const std::string& name = inputs.names.at(0);
    Series series;
    long long first = 0;
    if (name.find('%') != std::string::npos) {
        if (!SeriesFromPattern(name, &series, error)) return false;
        const std::vector<long long> numbers = NumbersPresent(series);
        if (numbers.empty()) {
            *error = name + ": no file matches the pattern";
            return false;
        }
        first = numbers.front();
    } else {
        std::error_code failure;
        if (!fs::is_regular_file(name, failure)) {
            *error = name + ": no such picture file";
            return false;
        }
        if (!SeriesFromFirst(name, &series, &first, error)) return false;
    }
    if (!TakeSeries(series, first, inputs, files, missing, error)) return false;
    if (files->empty()) *error = name + ": no picture to encode";
    return !files->empty();
}

}  // namespace zmbtool
