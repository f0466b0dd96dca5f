// SPDX-License-Identifier: MIT
// The Python module's native half: one object over a decoder handle, handing out bytes.
// Arrays, fractions and the friendly names live in the pure-Python package beside it, so
// this half needs only CPython's own headers and numpy is needed only at run time.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <vector>

#include "zambrel/decoder.h"

namespace {

PyObject* ModuleError = nullptr;
// The package's classes by code (zambrel.Error's subclasses), which it registers once it has
// made them; ModuleError until then.
PyObject* ErrorClasses = nullptr;

PyObject* ErrorClassOf(ZambError code) {
    PyObject* key = PyLong_FromLong(code);
    PyObject* found = key && ErrorClasses ? PyDict_GetItemWithError(ErrorClasses, key) : nullptr;
    Py_XDECREF(key);
    return found != nullptr ? found : ModuleError;
}

// The library's reason travels with its code, so a script can tell a damaged movie from a
// missing file without parsing the text.
PyObject* RaiseFromCode(ZambError code) {
    PyObject* args = Py_BuildValue("(si)", ZambErrorString(code), static_cast<int>(code));
    if (!args) return nullptr;
    PyErr_SetObject(ErrorClassOf(code), args);
    Py_DECREF(args);
    return nullptr;
}

// A failure of the movie itself carries the handle's sentence and the frame it concerns.
PyObject* RaiseFromHandle(const ZambDecoder* handle, ZambError code) {
    ZambErrorInfo error{};
    if (ZambDecoderGetLastError(handle, &error, sizeof error) != ZAMBERR_NONE || error.Code != code)
        return RaiseFromCode(code);
    PyObject* args = Py_BuildValue("(siI)", error.Reason, static_cast<int>(code), error.Frame);
    if (!args) return nullptr;
    PyErr_SetObject(ErrorClassOf(code), args);
    Py_DECREF(args);
    return nullptr;
}

struct DecoderObject {
    PyObject_HEAD ZambDecoder* Handle;
    // Memory opens decode from the caller's bytes in place: the buffer is held, and with it
    // the object that owns it, until the handle is closed.
    Py_buffer Source;
    bool HoldsSource;
    // Set while a call runs without the interpreter lock: a handle's calls must not overlap,
    // so another thread's call on the same object is refused instead of racing it.
    bool Busy;
};

// Runs a decoder call without the interpreter lock, so that other Python threads run while
// it decodes; false (with RuntimeError set) when the object is already busy on another.
bool RefuseIfBusy(const DecoderObject* self) {
    if (self->Busy) PyErr_SetString(PyExc_RuntimeError, "the movie is in use by another thread");
    return self->Busy;
}

template <typename Call>
bool WithoutLock(DecoderObject* self, Call call) {
    if (RefuseIfBusy(self)) return false;
    self->Busy = true;
    PyThreadState* state = PyEval_SaveThread();
    call();
    PyEval_RestoreThread(state);
    self->Busy = false;
    return true;
}

bool OpenFromPath(DecoderObject* self, PyObject* source, unsigned flags) {
    PyObject* encoded = nullptr;
    if (!PyUnicode_FSConverter(source, &encoded)) return false;
    ZambError result = ZAMBERR_NONE;
    const char* path = PyBytes_AS_STRING(encoded);
    WithoutLock(self, [&] { result = ZambDecoderOpenFile(path, flags, &self->Handle); });
    Py_DECREF(encoded);
    if (result < 0) {
        RaiseFromCode(result);
        return false;
    }
    return true;
}

bool OpenFromBuffer(DecoderObject* self, PyObject* source, unsigned flags) {
    if (PyObject_GetBuffer(source, &self->Source, PyBUF_SIMPLE) < 0) return false;
    self->HoldsSource = true;
    ZambError result = ZAMBERR_NONE;
    WithoutLock(self, [&] {
        result = ZambDecoderOpenMemory(self->Source.buf, static_cast<size_t>(self->Source.len),
                                       flags, &self->Handle);
    });
    if (result < 0) {
        RaiseFromCode(result);
        return false;
    }
    return true;
}

void ReleaseHandle(DecoderObject* self) {
    ZambDecoderClose(self->Handle);
    self->Handle = nullptr;
    if (self->HoldsSource) PyBuffer_Release(&self->Source);
    self->HoldsSource = false;
}

int DecoderInit(PyObject* object, PyObject* args, PyObject* kwargs) {
    auto* self = reinterpret_cast<DecoderObject*>(object);
    static const char* keywords[] = {"source", "flags", nullptr};
    PyObject* source = nullptr;
    unsigned flags = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|I", const_cast<char**>(keywords), &source,
                                     &flags))
        return -1;
    if (RefuseIfBusy(self)) return -1;
    ReleaseHandle(self);
    // A str or a path object names a file; bytes, bytearray, memoryview or any other
    // buffer hold the movie itself.
    const bool isPath = PyUnicode_Check(source) || PyObject_HasAttrString(source, "__fspath__");
    const bool opened =
        isPath ? OpenFromPath(self, source, flags) : OpenFromBuffer(self, source, flags);
    if (!opened) {
        ReleaseHandle(self);
        return -1;
    }
    return 0;
}

void DecoderDealloc(PyObject* object) {
    PyTypeObject* type = Py_TYPE(object);
    ReleaseHandle(reinterpret_cast<DecoderObject*>(object));
    type->tp_free(object);
    Py_DECREF(type);  // an instance of a heap type holds a reference to it
}

DecoderObject* Self(PyObject* object) {
    return reinterpret_cast<DecoderObject*>(object);
}

// The open handle; null, with ValueError set, once closed. A call that finds another thread
// inside a decode is refused there, before it touches the handle.
ZambDecoder* OpenHandle(PyObject* object) {
    DecoderObject* self = Self(object);
    if (RefuseIfBusy(self)) return nullptr;
    if (!self->Handle) PyErr_SetString(PyExc_ValueError, "the movie is closed");
    return self->Handle;
}

PyObject* TrackDict(const ZambTrackInfo& track) {
    return Py_BuildValue("{sIsIsIsIsIsIsI}", "present", track.Present, "decoded", track.Decoded,
                         "rate", track.SampleRate, "channels", track.Channels, "bits",
                         track.BitsPerSample, "bytes_per_second", track.BytesPerSecond,
                         "compressed", track.Compressed);
}

PyObject* DecoderInfo(PyObject* object, PyObject*) {
    ZambDecoder* handle = OpenHandle(object);
    if (!handle) return nullptr;
    ZambMovieInfo info{};
    if (const ZambError result = ZambDecoderGetInfo(handle, &info, sizeof info); result < 0)
        return RaiseFromCode(result);
    PyObject* tracks = PyList_New(ZAMB_MAX_TRACKS);
    if (!tracks) return nullptr;
    for (Py_ssize_t i = 0; i < ZAMB_MAX_TRACKS; ++i) {
        PyObject* track = TrackDict(info.Tracks[i]);
        if (!track) {
            Py_DECREF(tracks);
            return nullptr;
        }
        PyList_SET_ITEM(tracks, i, track);
    }
    return Py_BuildValue("{sIsIsIsIsIsIsIsIsN}", "width", info.Width, "height", info.Height,
                         "stored_height", info.StoredHeight, "frame_count", info.FrameCount,
                         "duration_num", info.FrameDurationNum, "duration_den",
                         info.FrameDurationDen, "flags", info.Flags, "largest_frame",
                         info.LargestFrame, "tracks", tracks);
}

// True when a frame became current, False at the end; damage raises.
PyObject* DecoderNextFrame(PyObject* object, PyObject*) {
    ZambDecoder* handle = OpenHandle(object);
    if (!handle) return nullptr;
    ZambError result = ZAMBERR_NONE;
    if (!WithoutLock(Self(object), [&] { result = ZambDecoderNextFrame(handle); })) return nullptr;
    if (result < 0) return RaiseFromHandle(handle, result);
    return PyBool_FromLong(result == ZAMBERR_NONE);
}

PyObject* DecoderSeek(PyObject* object, PyObject* args) {
    unsigned frame = 0;
    if (!PyArg_ParseTuple(args, "I", &frame)) return nullptr;
    ZambDecoder* handle = OpenHandle(object);
    if (!handle) return nullptr;
    ZambError result = ZAMBERR_NONE;
    if (!WithoutLock(Self(object), [&] { result = ZambDecoderSeek(handle, frame); }))
        return nullptr;
    if (result < 0) return RaiseFromHandle(handle, result);
    Py_RETURN_NONE;
}

PyObject* DecoderFrameInfo(PyObject* object, PyObject*) {
    ZambDecoder* handle = OpenHandle(object);
    if (!handle) return nullptr;
    ZambFrameInfo info{};
    if (const ZambError result = ZambDecoderGetFrameInfo(handle, &info, sizeof info); result < 0)
        return RaiseFromCode(result);
    PyObject* sound = PyTuple_New(ZAMB_MAX_TRACKS);
    if (!sound) return nullptr;
    for (Py_ssize_t i = 0; i < ZAMB_MAX_TRACKS; ++i)
        PyTuple_SET_ITEM(sound, i, PyLong_FromUnsignedLong(info.SoundBytes[i]));
    return Py_BuildValue("{sIsIsIsN}", "number", info.Number, "palette_changed",
                         info.PaletteChanged, "rect_count", info.RectCount, "sound_bytes", sound);
}

constexpr unsigned BytesPerPixel(unsigned format) {
    switch (format) {
        case ZAMBPIX_INDEX8:
            return 1;
        case ZAMBPIX_RGB24:
            return 3;
        case ZAMBPIX_RGB565:
        case ZAMBPIX_RGB555:
            return 2;
        default:
            return 4;
    }
}

// The current picture in one of the library's formats, rows packed: into the caller's
// writable buffer when one is given (returned as it is), else into a new bytearray (so that
// the arrays made over it are writable without a copy).
PyObject* DecoderPicture(PyObject* object, PyObject* args) {
    unsigned format = ZAMBPIX_INDEX8;
    PyObject* out = Py_None;
    if (!PyArg_ParseTuple(args, "|IO", &format, &out)) return nullptr;
    ZambDecoder* handle = OpenHandle(object);
    if (!handle) return nullptr;
    ZambMovieInfo info{};
    if (const ZambError result = ZambDecoderGetInfo(handle, &info, sizeof info); result < 0)
        return RaiseFromCode(result);
    const size_t pitch = size_t{info.Width} * BytesPerPixel(format);
    const size_t bytes = pitch * info.Height;
    if (out != Py_None) {
        Py_buffer view;
        if (PyObject_GetBuffer(out, &view, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS) < 0) return nullptr;
        const ZambError result = ZambDecoderGetPicture(handle, format, view.buf, pitch,
                                                       static_cast<size_t>(view.len), 0);
        PyBuffer_Release(&view);
        if (result < 0) return RaiseFromCode(result);
        Py_INCREF(out);
        return out;
    }
    PyObject* picture = PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(bytes));
    if (!picture) return nullptr;
    const ZambError result =
        ZambDecoderGetPicture(handle, format, PyByteArray_AS_STRING(picture), pitch, bytes, 0);
    if (result < 0) {
        Py_DECREF(picture);
        return RaiseFromCode(result);
    }
    return picture;
}

PyObject* DecoderPalette(PyObject* object, PyObject*) {
    ZambDecoder* handle = OpenHandle(object);
    if (!handle) return nullptr;
    std::uint8_t rgb[768];
    if (const ZambError result = ZambDecoderGetPalette(handle, rgb); result < 0)
        return RaiseFromCode(result);
    return PyByteArray_FromStringAndSize(reinterpret_cast<const char*>(rgb), sizeof rgb);
}

PyObject* DecoderRects(PyObject* object, PyObject*) {
    ZambDecoder* handle = OpenHandle(object);
    if (!handle) return nullptr;
    const std::uint32_t count = ZambDecoderGetChangedRects(handle, nullptr, 0);
    std::vector<ZambRect> rects(count);
    ZambDecoderGetChangedRects(handle, rects.data(), count);
    PyObject* list = PyList_New(count);
    if (!list) return nullptr;
    for (std::uint32_t i = 0; i < count; ++i) {
        PyObject* rect = Py_BuildValue("(iiii)", rects[i].X, rects[i].Y, rects[i].W, rects[i].H);
        if (!rect) {
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SET_ITEM(list, i, rect);
    }
    return list;
}

PyObject* DecoderFrameSound(PyObject* object, PyObject* args) {
    unsigned track = 0;
    if (!PyArg_ParseTuple(args, "I", &track)) return nullptr;
    ZambDecoder* handle = OpenHandle(object);
    if (!handle) return nullptr;
    size_t bytes = 0;
    ZambError result = ZambDecoderFrameSound(handle, track, nullptr, 0, &bytes);
    if (result < 0 && result != ZAMBERR_BUFFER_TOO_SMALL) return RaiseFromCode(result);
    PyObject* sound = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(bytes));
    if (!sound) return nullptr;
    result = ZambDecoderFrameSound(handle, track, PyBytes_AS_STRING(sound), bytes, &bytes);
    if (result < 0) {
        Py_DECREF(sound);
        return RaiseFromCode(result);
    }
    return sound;
}

// The track's place on the time line: (current chunk's first sample, the queue's, dropped).
PyObject* DecoderSoundPosition(PyObject* object, PyObject* args) {
    unsigned track = 0;
    if (!PyArg_ParseTuple(args, "I", &track)) return nullptr;
    ZambDecoder* handle = OpenHandle(object);
    if (!handle) return nullptr;
    ZambSoundPosition position{};
    if (const ZambError result =
            ZambDecoderGetSoundPosition(handle, track, &position, sizeof position);
        result < 0)
        return RaiseFromCode(result);
    return Py_BuildValue("(KKK)", static_cast<unsigned long long>(position.FrameSound),
                         static_cast<unsigned long long>(position.Queue),
                         static_cast<unsigned long long>(position.DroppedBytes));
}

// Everything queued for a track (the sound due from the current frame's time on, after a
// seek), as PCM bytes; empty for a track that is not decoded.
PyObject* DecoderReadSound(PyObject* object, PyObject* args) {
    unsigned track = 0;
    if (!PyArg_ParseTuple(args, "I", &track)) return nullptr;
    ZambDecoder* handle = OpenHandle(object);
    if (!handle) return nullptr;
    const size_t queued = ZambDecoderSoundQueued(handle, track);
    PyObject* sound = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(queued));
    if (!sound) return nullptr;
    const size_t got = ZambDecoderReadSound(handle, track, PyBytes_AS_STRING(sound), queued);
    if (got != queued && _PyBytes_Resize(&sound, static_cast<Py_ssize_t>(got)) < 0) return nullptr;
    return sound;
}

PyObject* DecoderSetIndexBudget(PyObject* object, PyObject* args) {
    Py_ssize_t bytes = 0;
    if (!PyArg_ParseTuple(args, "n", &bytes)) return nullptr;
    ZambDecoder* handle = OpenHandle(object);
    if (!handle) return nullptr;
    if (bytes < 0) {
        PyErr_SetString(PyExc_ValueError, "an index budget cannot be negative");
        return nullptr;
    }
    ZambDecoderSetIndexBudget(handle, static_cast<size_t>(bytes));
    Py_RETURN_NONE;
}

PyObject* DecoderBuildIndex(PyObject* object, PyObject*) {
    ZambDecoder* handle = OpenHandle(object);
    if (!handle) return nullptr;
    ZambError result = ZAMBERR_NONE;
    if (!WithoutLock(Self(object), [&] { result = ZambDecoderBuildIndex(handle); })) return nullptr;
    if (result < 0) return RaiseFromHandle(handle, result);
    return PyLong_FromSize_t(ZambDecoderIndexBytes(handle));
}

PyObject* DecoderClose(PyObject* object, PyObject*) {
    if (RefuseIfBusy(Self(object))) return nullptr;
    ReleaseHandle(Self(object));
    Py_RETURN_NONE;
}

PyMethodDef DecoderMethods[] = {
    {"info", DecoderInfo, METH_NOARGS, "The movie's facts as a dict."},
    {"next_frame", DecoderNextFrame, METH_NOARGS,
     "Decodes the next frame; False when the movie is over."},
    {"seek", DecoderSeek, METH_VARARGS, "Makes frame N current."},
    {"frame_info", DecoderFrameInfo, METH_NOARGS, "The current frame's facts as a dict."},
    {"picture", DecoderPicture, METH_VARARGS,
     "The current picture, rows packed: into `out` (a writable buffer) or a new bytearray."},
    {"palette", DecoderPalette, METH_NOARGS, "The current palette: a bytearray of 768 RGB bytes."},
    {"rects", DecoderRects, METH_NOARGS, "The current frame's changed rectangles."},
    {"frame_sound", DecoderFrameSound, METH_VARARGS,
     "The current frame's sound of a track, as PCM bytes."},
    {"sound_position", DecoderSoundPosition, METH_VARARGS,
     "A track's (chunk position, queue position, dropped bytes), in sample frames."},
    {"read_sound", DecoderReadSound, METH_VARARGS,
     "Takes everything queued for a track, as PCM bytes."},
    {"set_index_budget", DecoderSetIndexBudget, METH_VARARGS,
     "Bytes the seek index may take (0: none)."},
    {"build_index", DecoderBuildIndex, METH_NOARGS,
     "Decodes every frame once to fill the seek index; returns its bytes."},
    {"close", DecoderClose, METH_NOARGS, "Releases the handle; later calls raise."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot DecoderSlots[] = {
    {Py_tp_doc, const_cast<char*>("A decoder handle over a movie file or a movie's bytes.")},
    {Py_tp_new, reinterpret_cast<void*>(PyType_GenericNew)},
    {Py_tp_init, reinterpret_cast<void*>(DecoderInit)},
    {Py_tp_dealloc, reinterpret_cast<void*>(DecoderDealloc)},
    {Py_tp_methods, DecoderMethods},
    {0, nullptr},
};

PyType_Spec DecoderSpec = {"zambrel._zambrel.Decoder", sizeof(DecoderObject), 0, Py_TPFLAGS_DEFAULT,
                           DecoderSlots};

PyObject* ModuleVersion(PyObject*, PyObject*) {
    return PyUnicode_FromString(ZambVersionString());
}

// The package's subclasses of Error by code: {code: class}.
PyObject* ModuleSetErrors(PyObject*, PyObject* classes) {
    if (!PyDict_Check(classes)) {
        PyErr_SetString(PyExc_TypeError, "a dict of codes to classes is wanted");
        return nullptr;
    }
    Py_INCREF(classes);
    Py_XSETREF(ErrorClasses, classes);
    Py_RETURN_NONE;
}

PyMethodDef ModuleMethods[] = {
    {"version", ModuleVersion, METH_NOARGS, "The library's version string."},
    {"set_errors", ModuleSetErrors, METH_O, "Registers the exception class of each code."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef ModuleDefinition = {
    PyModuleDef_HEAD_INIT,
    "_zambrel",
    "Decoder handles of libzambrel.",
    -1,
    ModuleMethods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

bool AddIntConstant(PyObject* module, const char* name, long value) {
    return PyModule_AddIntConstant(module, name, value) == 0;
}

bool AddConstants(PyObject* module) {
    return AddIntConstant(module, "OPEN_PRELOAD", ZAMBOPEN_PRELOAD) &&
           AddIntConstant(module, "OPEN_LOOP", ZAMBOPEN_LOOP) &&
           AddIntConstant(module, "OPEN_STORED_HEIGHT", ZAMBOPEN_STORED_HEIGHT) &&
           AddIntConstant(module, "OPEN_NO_SOUND", ZAMBOPEN_NO_SOUND) &&
           AddIntConstant(module, "PIX_INDEX8", ZAMBPIX_INDEX8) &&
           AddIntConstant(module, "PIX_RGBA32", ZAMBPIX_RGBA32) &&
           AddIntConstant(module, "PIX_RGB24", ZAMBPIX_RGB24) &&
           AddIntConstant(module, "INFO_RING", ZAMBINFO_RING) &&
           AddIntConstant(module, "INFO_INTERLACED", ZAMBINFO_INTERLACED) &&
           AddIntConstant(module, "INFO_DOUBLED", ZAMBINFO_DOUBLED) &&
           AddIntConstant(module, "MAX_TRACKS", ZAMB_MAX_TRACKS);
}

}  // namespace

PyMODINIT_FUNC PyInit__zambrel() {
    PyObject* module = PyModule_Create(&ModuleDefinition);
    if (!module) return nullptr;
    PyObject* decoderType = PyType_FromSpec(&DecoderSpec);
    if (!decoderType || PyModule_AddObject(module, "Decoder", decoderType) < 0) {
        Py_XDECREF(decoderType);
        Py_DECREF(module);
        return nullptr;
    }
    ModuleError = PyErr_NewExceptionWithDoc(
        "zambrel.Error",
        "A movie could not be opened or decoded; args are (reason, code) or, for damage "
        "found while decoding, (reason, code, frame).",
        nullptr, nullptr);
    if (!ModuleError) {
        Py_DECREF(module);
        return nullptr;
    }
    Py_INCREF(ModuleError);  // kept for RaiseFromCode; the module's dict takes the other
    if (PyModule_AddObject(module, "Error", ModuleError) < 0) {
        Py_DECREF(ModuleError);
        Py_DECREF(module);
        return nullptr;
    }
    if (!AddConstants(module)) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}
