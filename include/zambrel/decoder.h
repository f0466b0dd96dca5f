/* SPDX-License-Identifier: MIT */
/* The embedding interface of libzambrel: a decoder handle per movie that hands out pictures,
   palettes and PCM sound on request, with no window, sound device, clock or setting.
   Threads: calls on one handle must not overlap; different handles may be used on different
   threads at once, since they share nothing they change. The library's own interface
   (<zambrel/movie.h>) is for one thread at a time. */
#ifndef ZAMBREL_DECODER_H
#define ZAMBREL_DECODER_H

#include <stddef.h>
#include <stdint.h>

/* The version these declarations belong to; ZambVersion() tells the library's own. */
#define ZAMBREL_VERSION_MAJOR 0
#define ZAMBREL_VERSION_MINOR 3
#define ZAMBREL_VERSION_PATCH 0
#define ZAMBREL_MAKE_VERSION(major, minor, patch) \
    (((uint32_t)(major) << 16) | ((uint32_t)(minor) << 8) | (uint32_t)(patch))
#define ZAMBREL_VERSION \
    ZAMBREL_MAKE_VERSION(ZAMBREL_VERSION_MAJOR, ZAMBREL_VERSION_MINOR, ZAMBREL_VERSION_PATCH)

/* Built alone (for WebAssembly, say), the decoding core needs no window system, sound
   device or SDL: it is the CMake target zmb_decoding_core, which web/build compiles. */

#include "export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Results ------------------------------------------------------------------------ */

/* Every call that can fail returns one of these: 0 or more is success. */
typedef int32_t ZambError;
#define ZAMBERR_NONE 0               /* done */
#define ZAMBERR_END 1                /* no next frame: the movie is over (not a failure) */
#define ZAMBERR_INVALID_ARGUMENT -1  /* a null pointer, unknown flag, format or pitch */
#define ZAMBERR_NO_MEMORY -2         /* an allocation failed; the handle is as before */
#define ZAMBERR_OPEN_FAILED -3       /* the file could not be opened */
#define ZAMBERR_READ_FAILED -4       /* the input delivered fewer bytes than the movie needs */
#define ZAMBERR_NOT_A_MOVIE -5       /* the input does not start like a movie */
#define ZAMBERR_UNUSABLE_HEADER -6   /* sizes, counts or layout outside what is decoded */
#define ZAMBERR_TOO_SHORT -7         /* tables, trees or frames lie past the input's end */
#define ZAMBERR_BAD_TREES -8         /* the code trees cannot be built */
#define ZAMBERR_TOO_LARGE -9         /* frames beyond 32-bit file positions */
#define ZAMBERR_BUFFER_TOO_SMALL -10 /* the caller's buffer cannot hold the result */
#define ZAMBERR_NO_TRACK -11         /* the movie has no such sound track, or it is not decoded */
#define ZAMBERR_NO_FRAME -12         /* no such frame, or no frame decoded yet */

/* A short English sentence for any code (also for codes it does not know); never null, a
   static string. */
ZAMBREL_PUBLIC const char* ZambErrorString(ZambError error);

/* The library's version as ZAMBREL_MAKE_VERSION gives it, and as "major.minor.patch". */
ZAMBREL_PUBLIC uint32_t ZambVersion(void);
ZAMBREL_PUBLIC const char* ZambVersionString(void);

/* ---- Opening ------------------------------------------------------------------------ */

/* Opaque: one open movie with all its decoding state. */
typedef struct ZambDecoder ZambDecoder;

/* Open flags. */
#define ZAMBOPEN_PRELOAD 0x1u /* read every frame at the open (files and readers) */
#define ZAMBOPEN_LOOP                                              \
    0x2u /* after the last frame go on with the first (through the \
            ring frame when the movie has one), never ZAMBERR_END */
#define ZAMBOPEN_STORED_HEIGHT                                                        \
    0x4u                       /* the picture at its stored height: no interlacing or \
                                  doubling, whatever the movie says */
#define ZAMBOPEN_NO_SOUND 0x8u /* queue no sound (ZambDecoderFrameSound still works) */
#define ZAMBOPEN_KEEP_SOUND                                     \
    0x10u /* sound queues grow as far as the sound goes instead \
             of dropping their oldest sound after eight seconds */
/* Shown interlaced or doubled, whatever the movie says. */
#define ZAMBOPEN_INTERLACED 0x20u
#define ZAMBOPEN_DOUBLED 0x40u
/* Decoded onto a 16-bit picture in place, as a display of that format shows the movie: a
   new palette colours only what the frame paints. ZambDecoderGetPicture hands the picture
   out in that format alone. */
#define ZAMBOPEN_DISPLAY555 0x100u
#define ZAMBOPEN_DISPLAY565 0x200u

/* The caller's input. Positions count from the movie's first byte. The open copies the
   record; Opaque must stay valid until the close. Every call comes from the thread that
   called the open or the decoder call at hand. */
typedef struct ZambReader {
    void* Opaque;
    /* Reads up to `size` bytes at the current position; returns the bytes read, fewer only
       at the end of the input or on a failure. */
    size_t (*Read)(void* opaque, void* buffer, size_t size);
    /* Moves to `position`; 0 on success, anything else on failure. */
    int (*Seek)(void* opaque, uint64_t position);
    /* Bytes from the movie's first byte to the end of the input. */
    uint64_t Size;
} ZambReader;

/* Each open sets *decoder to the new handle, or to null on failure, and returns why.
   A plain path (no case folding, no '\' translation, no profile read). */
ZAMBREL_PUBLIC ZambError ZambDecoderOpenFile(const char* path, uint32_t flags,
                                             ZambDecoder** decoder);
/* The caller's bytes, used in place (never copied whole): they must stay valid and unchanged
   until ZambDecoderClose. */
ZAMBREL_PUBLIC ZambError ZambDecoderOpenMemory(const void* data, size_t size, uint32_t flags,
                                               ZambDecoder** decoder);
ZAMBREL_PUBLIC ZambError ZambDecoderOpenReader(const ZambReader* reader, uint32_t flags,
                                               ZambDecoder** decoder);
/* Releases everything the handle holds (a reader's Opaque stays the caller's). Null is
   ignored. */
ZAMBREL_PUBLIC void ZambDecoderClose(ZambDecoder* decoder);

/* ---- The movie's facts --------------------------------------------------------------- */

#define ZAMBINFO_RING 0x1u       /* a ring frame turns the last picture back into the first */
#define ZAMBINFO_INTERLACED 0x2u /* shown interlaced: decoded rows on every other row */
#define ZAMBINFO_DOUBLED 0x4u    /* shown doubled: every decoded row twice */

#define ZAMB_MAX_TRACKS 7
#define ZAMB_MAX_TRACK_RATE 192000u /* Hz: faster tracks are not decoded */

typedef struct ZambTrackInfo {
    uint32_t Present;       /* 1 when the movie has this track */
    uint32_t Decoded;       /* 1 when its sound is handed out (rates up to 192,000 Hz) */
    uint32_t SampleRate;    /* Hz */
    uint32_t Channels;      /* 1 or 2, interleaved left first */
    uint32_t BitsPerSample; /* 8: unsigned, silence 0x80; 16: signed little-endian */
    uint32_t BytesPerSecond;
    uint32_t Compressed; /* 1 when stored delta-coded (the PCM handed out is the same) */
} ZambTrackInfo;

typedef struct ZambMovieInfo {
    uint32_t Width;        /* pixels */
    uint32_t Height;       /* rows of the picture as handed out */
    uint32_t StoredHeight; /* rows stored per frame */
    uint32_t FrameCount;   /* frames, the ring frame not counted */
    /* Each frame lasts FrameDurationNum / FrameDurationDen seconds; 0 / 1 for a movie meant
       to play as fast as it decodes. */
    uint32_t FrameDurationNum;
    uint32_t FrameDurationDen;
    uint32_t Flags;        /* ZAMBINFO_ bits, as the picture is handed out */
    uint32_t LargestFrame; /* bytes of the largest stored frame */
    ZambTrackInfo Tracks[ZAMB_MAX_TRACKS];
} ZambMovieInfo;

/* Fills `size` bytes of *info (sizeof(ZambMovieInfo) for these declarations; a smaller size
   from older declarations gets their fields). */
ZAMBREL_PUBLIC ZambError ZambDecoderGetInfo(const ZambDecoder* decoder, ZambMovieInfo* info,
                                            size_t size);

/* ---- The header as stored ------------------------------------------------------------- */

/* Why the open refuses a movie for its header alone (ZambHeader's Refusal), in the order
   the open looks. */
#define ZAMBHDR_USABLE 0u            /* the open goes on to the frame tables and the trees */
#define ZAMBHDR_NOT_A_MOVIE 1u       /* the input does not begin with ZAMB_MAGIC */
#define ZAMBHDR_CUT_SHORT 2u         /* it begins with it, but ends within the header */
#define ZAMBHDR_PICTURE_SIZE 3u      /* a width or height of 0, or not a multiple of 4 */
#define ZAMBHDR_PICTURE_TOO_LARGE 4u /* wider or taller than the decoder takes */
#define ZAMBHDR_TREE_SIZES 5u /* a tree's size is no whole number of nodes, or all too large */
#define ZAMBHDR_LAYOUT 6u     /* no frames, or tables and trees past 32-bit file positions */
#define ZAMBHDR_PAST_END 7u   /* the frame tables and the tree data run past the input's end */

/* The header's fields exactly as the movie stores them (before the open applies its flags:
   Height is the stored one, FileFlags the movie's own), zero where the input ends first. */
typedef struct ZambHeader {
    char Magic[4];
    uint32_t Width;
    uint32_t Height;
    uint32_t FrameCount; /* the ring frame not counted */
    int32_t FrameRate;   /* >0 ms per frame, <0 minus 1/100 ms per frame, 0 untimed */
    uint32_t FileFlags;  /* ZAMB_FILE_ bits of <zambrel/movie.h> */
    uint32_t TrackMaxBytes[ZAMB_MAX_TRACKS];
    uint32_t TreeDataSize;
    uint32_t TreeSizes[4];                 /* pattern, colour, full and type tree */
    uint32_t TrackFormat[ZAMB_MAX_TRACKS]; /* ZAMB_TRACK_ bits and the rate in Hz */
    uint32_t HeaderBytes;                  /* of the header's 104, those the input holds */
    uint32_t Refusal;                      /* ZAMBHDR_ */
    char Reason[160]; /* empty, or a sentence such as "the picture size 0x240 is not a
                         positive multiple of 4" */
} ZambHeader;
/* Reads the header at the reader's position 0 and judges it as the open does, also for
   movies the open refuses. Fills `size` bytes of *header and returns what an open of the
   same input returns for such a header: ZAMBERR_NONE when it goes on past the header,
   ZAMBERR_NOT_A_MOVIE, ZAMBERR_UNUSABLE_HEADER or ZAMBERR_TOO_SHORT when it refuses it,
   ZAMBERR_READ_FAILED when the reader cannot move to position 0. Nothing else is read: a
   usable header does not make a usable movie. */
ZAMBREL_PUBLIC ZambError ZambReadHeader(const ZambReader* reader, ZambHeader* header, size_t size);

/* ---- Frames and pictures --------------------------------------------------------------- */

/* Decodes the next frame (the first call frame 0) and makes it current: its picture, palette,
   changed rectangles and sound. ZAMBERR_END after the last frame (never with ZAMBOPEN_LOOP);
   ZAMBERR_READ_FAILED when the input came up short (the handle stays usable for seeks). */
ZAMBREL_PUBLIC ZambError ZambDecoderNextFrame(ZambDecoder* decoder);
/* Makes `frame` current, exactly as decoding every frame from frame 0 up to it would. The
   decoding starts from the nearest point at or before it that holds what the frame needs:
   the current frame, a snapshot of the seek index (below), or frame 0. Each track's sound
   queue then starts with the sample due at the frame's time (frame x frame duration x rate,
   rounded down), which lies in an earlier frame's chunk as a rule, since the sound leads
   the pictures; in a movie meant to play as fast as it decodes, with the frame's own chunk.
   ZAMBERR_READ_FAILED when a frame on the way could not be read: the frame before it is
   then current. */
ZAMBREL_PUBLIC ZambError ZambDecoderSeek(ZambDecoder* decoder, uint32_t frame);

/* The seek index: a snapshot of the decoder's state (picture and palette) every so many
   frames, taken as frames are decoded forward from frame 0, so that a seek decodes a few
   frames instead of all those before its target. It is kept once the program asks for it,
   by its first seek, ZambDecoderBuildIndex or ZambDecoderSetIndexBudget: decoding forward
   alone takes no snapshot. The snapshots are spaced so that all of a movie's fit in the
   budget; ZAMB_INDEX_DEFAULT_BUDGET until the caller sets another. A budget of 0 frees the
   index and takes no more snapshots; a new budget frees the snapshots taken and starts
   over. */
#define ZAMB_INDEX_DEFAULT_BUDGET ((size_t)64 << 20)
ZAMBREL_PUBLIC ZambError ZambDecoderSetIndexBudget(ZambDecoder* decoder, size_t bytes);
/* Decodes every frame once now to fill the index and the sound positions, then makes the
   frame that was current current again (none, if none was). */
ZAMBREL_PUBLIC ZambError ZambDecoderBuildIndex(ZambDecoder* decoder);
/* Bytes the index holds now. */
ZAMBREL_PUBLIC size_t ZambDecoderIndexBytes(const ZambDecoder* decoder);

typedef struct ZambFrameInfo {
    uint32_t Number;         /* current frame, 0-based; the ring frame counts as frame 0 */
    uint32_t PaletteChanged; /* 1 when this frame brought a new palette (always for the first) */
    uint32_t RectCount;      /* changed rectangles of this frame */
    uint32_t SoundBytes[ZAMB_MAX_TRACKS]; /* PCM bytes this frame brought per decoded track */
} ZambFrameInfo;
ZAMBREL_PUBLIC ZambError ZambDecoderGetFrameInfo(const ZambDecoder* decoder, ZambFrameInfo* info,
                                                 size_t size);

/* Pixel formats of ZambDecoderGetPicture; bytes in memory order. */
#define ZAMBPIX_INDEX8 0u /* palette indices, one byte per pixel */
#define ZAMBPIX_RGBA32 1u /* red, green, blue, 255 */
#define ZAMBPIX_BGRA32 2u /* blue, green, red, 255 */
#define ZAMBPIX_RGB24 3u  /* red, green, blue */
#define ZAMBPIX_RGB565 4u /* 16-bit words in the machine's byte order: red in the top 5 bits */
#define ZAMBPIX_RGB555 5u /* the same with 5 bits a channel and the top bit 0 */

/* Picture flags. */
#define ZAMBPIC_CHANGED_ONLY                                        \
    0x1u /* write only the changed rectangles (the buffer holds the \
            previous frame's picture); ignored when the palette     \
            changed and the format is not ZAMBPIX_INDEX8 */
/* The buffer's first row is the picture's bottom row. */
#define ZAMBPIC_BOTTOM_UP 0x2u

/* Writes the current picture, Width x Height, top row first (bottom row first with
   ZAMBPIC_BOTTOM_UP), rows `pitch` bytes apart, into
   `pixels` (`bufferBytes` long). ZAMBERR_BUFFER_TOO_SMALL when pitch is below a row or the
   buffer below (Height - 1) x pitch + a row; ZAMBERR_NO_FRAME before the first frame. */
ZAMBREL_PUBLIC ZambError ZambDecoderGetPicture(const ZambDecoder* decoder, uint32_t format,
                                               void* pixels, size_t pitch, size_t bufferBytes,
                                               uint32_t flags);
/* The current palette: 256 entries of red, green, blue, 0 to 255 each. */
ZAMBREL_PUBLIC ZambError ZambDecoderGetPalette(const ZambDecoder* decoder, uint8_t rgb[768]);

/* A rectangle of the picture as handed out: X, Y its top-left pixel, W x H its size. */
typedef struct ZambRect {
    int32_t X, Y, W, H;
} ZambRect;
/* Copies up to `capacity` of the current frame's changed rectangles (inside the picture,
   never empty; the first frame's after an open or a seek is the whole picture) and returns
   how many there are. */
ZAMBREL_PUBLIC uint32_t ZambDecoderGetChangedRects(const ZambDecoder* decoder, ZambRect* rects,
                                                   uint32_t capacity);
/* The current frame's changes exactly as ZambNextRect hands them out in `mode` (0 or 1):
   the same rectangles in the same order, a palette-only frame's one of no size among them,
   also for the first frame. Copies up to `capacity` and returns how many there are (0 for
   an unknown mode or before the first frame). */
ZAMBREL_PUBLIC uint32_t ZambDecoderGetMergedRects(ZambDecoder* decoder, uint32_t mode,
                                                  ZambRect* rects, uint32_t capacity);

/* ---- Sound ------------------------------------------------------------------------------ */

/* The current frame's sound of one track, as PCM in the track's format: *bytes is set to its
   length (also when ZAMBERR_BUFFER_TOO_SMALL; a null buffer with capacity 0 asks only). */
ZAMBREL_PUBLIC ZambError ZambDecoderFrameSound(const ZambDecoder* decoder, uint32_t track,
                                               void* buffer, size_t capacity, size_t* bytes);
/* The sound queue of each decoded track: every decoded frame appends its sound, and this
   takes up to `maxBytes` from the queue's front, in whole sample frames. Returns the bytes
   taken (0 when the queue is empty or the track is not decoded). A queue holds at most eight
   seconds of its sound; older sound is dropped if the caller takes none. */
ZAMBREL_PUBLIC size_t ZambDecoderReadSound(ZambDecoder* decoder, uint32_t track, void* buffer,
                                           size_t maxBytes);
/* Bytes waiting in a track's queue. */
ZAMBREL_PUBLIC size_t ZambDecoderSoundQueued(const ZambDecoder* decoder, uint32_t track);

/* Where a track's sound sits on the movie's time line, in sample frames from the movie's
   start at the track's own rate (sample frame s plays at s / rate seconds). A track's chunks
   play one after the other, so a chunk begins where the one before it ended. */
typedef struct ZambSoundPosition {
    uint64_t FrameSound;   /* the first sample of the current frame's chunk */
    uint64_t Queue;        /* the first sample ZambDecoderReadSound returns next */
    uint64_t DroppedBytes; /* bytes a full queue dropped since the open, none taken by the
                              caller (never any with ZAMBOPEN_KEEP_SOUND) */
} ZambSoundPosition;
ZAMBREL_PUBLIC ZambError ZambDecoderGetSoundPosition(const ZambDecoder* decoder, uint32_t track,
                                                     ZambSoundPosition* position, size_t size);

/* What the current frame's chunk of a track claims and delivers. A chunk that claims more
   than LimitBytes, or delivers less than it claims, is damaged: the sound handed out for
   it ends early or in silence. */
typedef struct ZambChunkSound {
    uint32_t ClaimedBytes;   /* PCM bytes the chunk declares; 0 when the frame has no chunk */
    uint32_t DeliveredBytes; /* of those, the bytes its data holds (at most LimitBytes) */
    uint32_t LimitBytes;     /* the most a chunk of the track may declare: the header's
                                largest chunk, within what one frame's sound may hold */
} ZambChunkSound;
ZAMBREL_PUBLIC ZambError ZambDecoderGetChunkSound(const ZambDecoder* decoder, uint32_t track,
                                                  ZambChunkSound* chunk, size_t size);

/* ---- Checking --------------------------------------------------------------------------- */

/* As ZambDecoderOpenReader, with every frame's chunks checked against the input first: the
   handle knows where its movie stops being whole (a frame past the input's end, or a
   palette or sound chunk that runs out of its frame). A movie the open would refuse for
   them opens as its whole frames (FrameCount counts just those, with no ring frame) when
   there are any. A call of its own, so that programs which never check link none of it. */
ZAMBREL_PUBLIC ZambError ZambDecoderOpenChecked(const ZambReader* reader, uint32_t flags,
                                                ZambDecoder** decoder);
typedef struct ZambFrameCheck {
    uint32_t FrameCount;   /* the header's frames, the ring frame not counted */
    uint32_t StoredFrames; /* frames the table lists, the ring frame counted */
    uint32_t WholeFrames;  /* frames from the first on up to the first fault */
    uint32_t FaultCount;   /* faults found, in frame order; a cut input ends them */
} ZambFrameCheck;
typedef struct ZambFrameFault {
    uint32_t Frame;   /* the stored frame, 0-based */
    char Reason[160]; /* such as "the file ends 12 bytes into this frame of 5210 (3 frames
                         missing or cut)" */
} ZambFrameFault;
/* Fills *check and up to `capacity` of the faults; ZAMBERR_INVALID_ARGUMENT for a handle
   not opened with ZambDecoderOpenChecked. */
ZAMBREL_PUBLIC ZambError ZambDecoderCheckFrames(const ZambDecoder* decoder, ZambFrameCheck* check,
                                                ZambFrameFault* faults, uint32_t capacity);

/* From the next frame on, each picture's stream is read checked (somewhat slower; the
   pictures stay the same), and ZambDecoderGetFrameDamage tells what it found. */
ZAMBREL_PUBLIC ZambError ZambDecoderCheckPictures(ZambDecoder* decoder);

/* Trees a picture may read: bit 0 the pattern tree, 1 colour, 2 full, 3 type. */
typedef struct ZambFrameDamage {
    uint32_t PictureRanOut; /* 1: the picture's stream ended before its last block */
    uint32_t TreesRead;     /* the trees the picture took values from */
    uint32_t AbsentTrees;   /* trees the movie does not store: values read from them are made up */
    uint32_t ShortTrees;    /* trees whose stored size is short of their nodes (checked opens) */
    /* Empty for a picture that decoded whole, or the first damage, such as "the picture
       reads the colour tree, which the movie does not store". */
    char Reason[160];
} ZambFrameDamage;
/* ZAMBERR_NO_FRAME before the first frame; all zero for a frame read unchecked. */
ZAMBREL_PUBLIC ZambError ZambDecoderGetFrameDamage(const ZambDecoder* decoder,
                                                   ZambFrameDamage* damage, size_t size);

/* Stored frame `frame` (the ring frame is frame FrameCount) as the frame table lists it. */
typedef struct ZambStoredFrame {
    uint32_t Bytes;  /* the frame's size */
    uint32_t Chunks; /* ZAMB_FRAME_ bits of <zambrel/movie.h>: a palette, track n's sound */
} ZambStoredFrame;
ZAMBREL_PUBLIC ZambError ZambDecoderGetStoredFrame(const ZambDecoder* decoder, uint32_t frame,
                                                   ZambStoredFrame* stored, size_t size);
/* The movie's frame sizes: the largest stored frame, the average, and the busiest second
   of consecutive frames (its bytes, and its first frame counted from 1). */
typedef struct ZambFrameSizes {
    uint32_t Largest;
    uint32_t Average;
    uint32_t PeakSecondBytes;
    uint32_t PeakSecondFrame;
} ZambFrameSizes;
ZAMBREL_PUBLIC ZambError ZambDecoderGetFrameSizes(const ZambDecoder* decoder, ZambFrameSizes* sizes,
                                                  size_t size);

/* ---- Failures --------------------------------------------------------------------------- */

/* The handle's last failure: what, at which frame and byte, and a sentence saying so. */
typedef struct ZambErrorInfo {
    ZambError Code;   /* ZAMBERR_NONE while nothing has failed */
    uint32_t Frame;   /* the frame it concerns, 0-based */
    uint64_t Offset;  /* that frame's first byte, from the movie's first byte */
    char Reason[160]; /* an English sentence, such as "frame 72 of 150 (bytes 396912 to
                         402160) lies past the end of the input (397972 bytes)" */
} ZambErrorInfo;
ZAMBREL_PUBLIC ZambError ZambDecoderGetLastError(const ZambDecoder* decoder, ZambErrorInfo* info,
                                                 size_t size);

#ifdef __cplusplus
}
#endif

#endif /* ZAMBREL_DECODER_H */
