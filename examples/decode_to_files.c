/* SPDX-License-Identifier: MIT */
/* Decodes a movie through the embedding interface: every frame as an RGBA picture
   (frame00000.pam, ...) and track 0's sound as a WAV file (sound.wav).

   zambrel-decode MOVIE OUTDIR [--frames N] */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <zambrel/decoder.h>

static int Fail(const char* what, ZambError error) {
    fprintf(stderr, "zambrel-decode: %s: %s\n", what, ZambErrorString(error));
    return 1;
}

/* A portable anymap with an alpha channel: a plain header, then the RGBA rows. */
static int WritePam(const char* path, const uint8_t* rgba, uint32_t width, uint32_t height) {
    FILE* file = fopen(path, "wb");
    if (file == NULL) return 0;
    fprintf(file, "P7\nWIDTH %u\nHEIGHT %u\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n",
            (unsigned)width, (unsigned)height);
    const size_t bytes = (size_t)width * height * 4;
    const int ok = fwrite(rgba, 1, bytes, file) == bytes;
    return fclose(file) == 0 && ok;
}

static void Put32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = (uint8_t)(value >> (8 * i));
}

static void Put16(uint8_t* at, uint32_t value) {
    at[0] = (uint8_t)value;
    at[1] = (uint8_t)(value >> 8);
}

/* The 44-byte header of a PCM WAV file; the track's samples are already in WAV's layout. */
static void WavHeader(uint8_t header[44], const ZambTrackInfo* track, uint32_t dataBytes) {
    const uint32_t blockAlign = track->Channels * track->BitsPerSample / 8;
    memcpy(header, "RIFF", 4);
    Put32(header + 4, 36 + dataBytes);
    memcpy(header + 8, "WAVEfmt ", 8);
    Put32(header + 16, 16);
    Put16(header + 20, 1);
    Put16(header + 22, track->Channels);
    Put32(header + 24, track->SampleRate);
    Put32(header + 28, track->SampleRate * blockAlign);
    Put16(header + 32, blockAlign);
    Put16(header + 34, track->BitsPerSample);
    memcpy(header + 36, "data", 4);
    Put32(header + 40, dataBytes);
}

/* Appends the queued sound of track 0 to the open WAV file; returns the bytes written. */
static uint32_t DrainSound(ZambDecoder* decoder, FILE* wav) {
    uint8_t buffer[16384];
    uint32_t total = 0;
    size_t got;
    while ((got = ZambDecoderReadSound(decoder, 0, buffer, sizeof buffer)) != 0) {
        total += (uint32_t)fwrite(buffer, 1, got, wav);
    }
    return total;
}

int main(int argc, char** argv) {
    if (argc != 3 && !(argc == 5 && strcmp(argv[3], "--frames") == 0)) {
        fprintf(stderr, "usage: zambrel-decode MOVIE OUTDIR [--frames N]\n");
        return 2;
    }
    const unsigned long limit = argc == 5 ? strtoul(argv[4], NULL, 10) : (unsigned long)-1;
    ZambDecoder* decoder = NULL;
    ZambError error = ZambDecoderOpenFile(argv[1], 0, &decoder);
    if (error != ZAMBERR_NONE) return Fail(argv[1], error);

    ZambMovieInfo info;
    ZambDecoderGetInfo(decoder, &info, sizeof info);
    const size_t pitch = (size_t)info.Width * 4;
    uint8_t* rgba = malloc(pitch * info.Height);
    char path[4096];
    FILE* wav = NULL;
    uint32_t soundBytes = 0;
    uint8_t header[44];
    if (info.Tracks[0].Decoded) {
        snprintf(path, sizeof path, "%s/sound.wav", argv[2]);
        wav = fopen(path, "wb");
        if (wav == NULL) return Fail(path, ZAMBERR_OPEN_FAILED);
        WavHeader(header, &info.Tracks[0], 0); /* rewritten with the sizes at the end */
        fwrite(header, 1, sizeof header, wav);
    }

    unsigned long frames = 0;
    while (frames < limit && (error = ZambDecoderNextFrame(decoder)) == ZAMBERR_NONE) {
        ZambDecoderGetPicture(decoder, ZAMBPIX_RGBA32, rgba, pitch, pitch * info.Height, 0);
        snprintf(path, sizeof path, "%s/frame%05lu.pam", argv[2], frames);
        if (!WritePam(path, rgba, info.Width, info.Height)) return Fail(path, ZAMBERR_OPEN_FAILED);
        if (wav != NULL) soundBytes += DrainSound(decoder, wav);
        ++frames;
    }
    if (error < 0) return Fail(argv[1], error);
    if (wav != NULL) {
        WavHeader(header, &info.Tracks[0], soundBytes);
        fseek(wav, 0, SEEK_SET);
        fwrite(header, 1, sizeof header, wav);
        fclose(wav);
    }
    printf("%lu frames, %u bytes of sound\n", frames, (unsigned)soundBytes);
    free(rgba);
    ZambDecoderClose(decoder);
    return 0;
}
