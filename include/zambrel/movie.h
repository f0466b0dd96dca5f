/* SPDX-License-Identifier: MIT */
/* The movie decoding library: open a movie, decode its frames, pace them, close it.

   Threads: this interface is for one thread at a time. Its state is process-wide by design
   (the sound driver table, the count of open sound tracks and the scratch buffer they
   share, the settings below, the debug setting), and nothing in it is locked, so no two
   of its calls may overlap, whatever movies they are given. While a thread has movies open,
   ZambOpen on any other thread returns null. A program that decodes on several threads
   uses decoder handles (<zambrel/decoder.h>), which share no state. */
#ifndef ZAMBREL_MOVIE_H
#define ZAMBREL_MOVIE_H

#include <stdint.h>

#include "export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Header flags (FileFlags). */
#define ZAMB_FILE_RING 0x1u /* a ring frame, stored last, turns the last picture into the first */
#define ZAMB_FILE_INTERLACED 0x2u /* shown at twice its height, decoded rows on every other row */
#define ZAMB_FILE_DOUBLED 0x4u    /* shown at twice its height, each decoded row written twice */

/* Track format word (TrackFormat); the low 24 bits are the sample rate in Hz. */
#define ZAMB_TRACK_COMPRESSED 0x80000000u
#define ZAMB_TRACK_PRESENT 0x40000000u
#define ZAMB_TRACK_16BIT 0x20000000u
#define ZAMB_TRACK_STEREO 0x10000000u
#define ZAMB_TRACK_RATE_MASK 0x00FFFFFFu

/* Frame type table bits: what a stored frame carries before its video chunk. */
#define ZAMB_FRAME_PALETTE 0x01u
#define ZAMB_FRAME_TRACK0 0x02u /* track n: ZAMB_FRAME_TRACK0 << n */
#define ZAMB_FRAME_TRACK1 0x04u
#define ZAMB_FRAME_TRACK2 0x08u
#define ZAMB_FRAME_TRACK3 0x10u
#define ZAMB_FRAME_TRACK4 0x20u
#define ZAMB_FRAME_TRACK5 0x40u
#define ZAMB_FRAME_TRACK6 0x80u

/* Block types: the low two bits of a type word. */
#define ZAMB_BLOCK_MONO 0u
#define ZAMB_BLOCK_FULL 1u
#define ZAMB_BLOCK_SKIP 2u
#define ZAMB_BLOCK_SOLID 3u

/* Open flags of ZambOpen. */
#define ZAMB_FRAME_RATE 0x80u    /* use the ZambSetFrameRate setting, not the header's */
#define ZAMB_FILL_BUFFER 0x100u  /* fill the read-ahead ring before returning */
#define ZAMB_PRELOAD 0x200u      /* read all frames at open (also chosen for small movies) */
#define ZAMB_NO_SKIP 0x400u      /* never skip a late frame's picture */
#define ZAMB_READ_SPEED 0x800u   /* simulate the ZambSetReadSpeed setting */
#define ZAMB_FILE_HANDLE 0x1000u /* the argument is an open handle at the movie's first byte */
#define ZAMB_TRACK0 0x2000u      /* open sound track n: ZAMB_TRACK0 << n */
#define ZAMB_TRACK1 0x4000u
#define ZAMB_TRACK2 0x8000u
#define ZAMB_TRACK3 0x10000u
#define ZAMB_TRACK4 0x20000u
#define ZAMB_TRACK5 0x40000u
#define ZAMB_TRACK6 0x80000u
#define ZAMB_TRACK_MASK 0xFE000u
#define ZAMB_INTERLACE 0x100000u /* show interlaced whatever the header says */
#define ZAMB_DOUBLE 0x200000u    /* show doubled whatever the header says */
#define ZAMB_NO_SCALE 0x300000u  /* both bits: show at the stored height */
#define ZAMB_USER_RECORD                                               \
    0x2000000u /* the argument is caller storage for the record, whose \
                  first word holds the handle (with ZAMB_FILE_HANDLE) */

#define ZAMB_TRACK_COUNT 7
#define ZAMB_PALETTE_BYTES 768
#define ZAMB_HEADER_BYTES 104
/* The first four bytes of every movie (Magic); not a C string's terminator among them. */
#define ZAMB_MAGIC "ZMB2"
#define ZAMB_MAGIC_BYTES 4

struct ZambTreeBlock;   /* the four code trees with their lookup tables */
struct ZambDestination; /* where and how the video is decoded */
struct ZambSoundTrack;  /* one open sound track */

/* One open movie. The first 104 bytes are the file header as stored; everything after is
   the decoder's state. Fields are 32 bits unless their type says otherwise; "flag" fields
   hold 0 or 1. A null movie is accepted by every operation and does nothing. */
typedef struct ZambMovie {
    /* The header, read verbatim. FrameRate, FileFlags bits 0x2/0x4 and Height are changed
       at open: Height is the height of the picture as shown. */
    char Magic[4];
    uint32_t Width;
    uint32_t Height;
    uint32_t FrameCount; /* not counting the ring frame */
    int32_t FrameRate;   /* >0 ms per frame, <0 minus 1/100 ms per frame, 0 untimed */
    uint32_t FileFlags;
    uint32_t TrackMaxBytes[ZAMB_TRACK_COUNT];
    uint32_t TreeDataSize;
    uint32_t PatternTreeSize;
    uint32_t ColourTreeSize;
    uint32_t FullTreeSize;
    uint32_t TypeTreeSize;
    uint32_t TrackFormat[ZAMB_TRACK_COUNT];
    uint32_t Reserved;

    uint32_t PaletteChanged;             /* flag: the frame just prepared brought a new palette */
    uint8_t Palette[ZAMB_PALETTE_BYTES]; /* 256 x red, green, blue, 0..255 */
    uint32_t FrameNumber;                /* 0-based; FrameCount while the ring frame is current */
    uint32_t FrameBytes;                 /* size of the frame last loaded from the file */
    uint32_t VideoOffset;                /* bytes of the current frame before its video chunk */
    int32_t RectX, RectY, RectW, RectH;  /* the changed rectangle handed out last */
    uint32_t OpenFlags;
    int32_t DestX, DestY;
    uint32_t LargestFrame;
    uint32_t PeakSecondBytes; /* busiest second's worth of consecutive frames, bytes */
    uint32_t PeakSecondFrame; /* its first frame, counted from 1 */
    uint32_t ReadFailed;      /* flag, sticky until the close */
    void* FileHandle;         /* invalid (-1) once a preload has closed the file */
    uint32_t FrameBufferSize; /* without the 8 spare bytes behind it */
    struct ZambTreeBlock* Trees;
    struct ZambDestination* Dest; /* null: no video output */
    uint32_t DestSize;
    uint32_t PaletteDirty16;   /* flag */
    uint16_t* ColourTable16;   /* inside Dest; null for 8-bit destinations */
    uint32_t FirstFrameOffset; /* file position of frame 0 */
    uint8_t* FrameBuffer;
    uint8_t* FrameData;   /* start of the current frame */
    int32_t PaletteFrame; /* frame whose palette was last passed on; -1 = none */
    uint8_t* FrameTypes;  /* one byte per stored frame; the same allocation holds... */
    uint32_t* FrameSizes; /* ...one uint32 per stored frame, after the types */
    uint8_t* PaletteChunk;
    uint8_t* TrackChunk[ZAMB_TRACK_COUNT]; /* null when the frame has none for a track */
    uint8_t* VideoChunk;
    int32_t RectState;
    int32_t ScanRect[4];
    uint32_t FrameDue;      /* flag */
    uint32_t NextFrameTime; /* 1/100 ms; 0xFFFFFFFF until the first wait */
    uint32_t FramePeriod;   /* 1/100 ms; 0 = as fast as possible */
    struct ZambSoundTrack* Tracks[ZAMB_TRACK_COUNT];
    int32_t PrimaryTrack;      /* the track that paces the movie; -1 = none */
    uint32_t SoundSyncPending; /* flag */
    uint32_t SoundOff;         /* flag */
    uint8_t* RingBase;
    uint8_t* RingEnd;               /* current end of the ring's data area */
    uint8_t* RingRead;              /* next byte to hand out */
    uint8_t* RingWrite;             /* next byte to fill */
    uint32_t RingFill;              /* bytes not yet handed out */
    uint32_t RingSize;              /* multiple of 4,096; 0 = no ring */
    uint32_t ReadPosition;          /* file position of the next byte handed out */
    uint32_t BytesRead, ReadTime;   /* reads the decoder waited for: bytes, ms */
    uint32_t AheadBytes, AheadTime; /* read-ahead: bytes, ms */
    uint32_t RingPeak;
    uint32_t MemoryInUse;
    uint32_t FrameStartTime, DecodeStartTime, BlitStartTime, FirstFrameTime; /* 0 = not running */
    uint32_t OpenTime;
    uint32_t OpenReadTime;
    uint32_t FramesDecoded, FramesSkipped;
    uint32_t BlitTime, DecodeTime;
    uint32_t SlowestTime, SecondSlowestTime, SlowestFrame, SecondSlowestFrame;
    uint32_t AverageFrame;
    uint32_t PeakMemory;
    uint32_t ReadSpeed;         /* simulated bytes per second; 0 = off */
    uint32_t PendingRectCount;  /* 4 per pending rectangle */
    int32_t PendingRects[4][4]; /* left, top, right, bottom; right and bottom exclusive */
    uint32_t SoundOffFrame;
} ZambMovie;

/* The statistics of one movie's playback; times in milliseconds unless said. */
typedef struct ZambPlaybackSummary {
    uint32_t TotalTime;
    uint32_t FramePeriod; /* 1/100 ms */
    uint32_t OpenTime;
    uint32_t FramesPlayed;
    uint32_t FramesSkipped;
    uint32_t SoundSkips;
    uint32_t BlitTime;
    uint32_t ReadTime;
    uint32_t DecodeTime;
    uint32_t AheadTime;
    uint32_t DeviceSpeed; /* bytes per second */
    uint32_t SlowestTime;
    uint32_t SecondSlowestTime;
    uint32_t SlowestFrame; /* 1-based */
    uint32_t SecondSlowestFrame;
    uint32_t AverageFrame; /* bytes */
    uint32_t PeakMemory;   /* bytes */
    uint32_t ExtraMemory;  /* bytes of the read-ahead ring */
    uint32_t ExtraMemoryUsed;
} ZambPlaybackSummary;

/* nameOrHandle: a file name; with ZAMB_FILE_HANDLE an open file handle positioned at the
   movie's first byte (it stays the caller's); with ZAMB_USER_RECORD as well, storage of
   sizeof(ZambMovie) bytes whose first word holds that handle. extraBuffer: the read-ahead ring
   in bytes, 0xFFFFFFFF to let the open choose. Null when the movie cannot be used. */
ZAMBREL_PUBLIC ZambMovie* ZambOpen(const void* nameOrHandle, uint32_t flags, uint32_t extraBuffer);
/* Releases everything the movie holds; a caller's handle stays open. */
ZAMBREL_PUBLIC void ZambClose(ZambMovie* movie);

/* Decodes the current frame (audio into the tracks, video into the destination). Returns
   1 when the picture was late against the sound, else 0. */
ZAMBREL_PUBLIC int32_t ZambDoFrame(ZambMovie* movie);
/* Decode into buffer (pitch bytes per row, destHeight rows) with the picture's top-left
   corner at (left, top). flags: 0x1 bottom-up buffer; top two bits the 16-bit format
   (0x80000000 5-5-5, 0xC0000000 5-6-5). A null buffer releases the destination. */
ZAMBREL_PUBLIC void ZambSetDestination(ZambMovie* movie, uint32_t left, int32_t top, int32_t pitch,
                                       int32_t destHeight, void* buffer, uint32_t flags);
/* Decode colour indices as the nearest entries of another palette (count entries laid out
   as the ZAMBPAL_ bits of paletteType say). */
ZAMBREL_PUBLIC void ZambRemapColours(ZambMovie* movie, const void* palette, uint32_t count,
                                     uint32_t paletteType);
/* 1: the next changed rectangle is in RectX, RectY, RectW, RectH; 0: no more this frame. */
ZAMBREL_PUBLIC int32_t ZambNextRect(ZambMovie* movie, uint32_t mode);

/* Makes the next frame current (loaded and prepared). */
ZAMBREL_PUBLIC void ZambNextFrame(ZambMovie* movie);
/* 1: the next frame is not due yet, call again; 0: go on. */
ZAMBREL_PUBLIC int32_t ZambWait(ZambMovie* movie);
/* on 0: sound off; otherwise on again (negative: refill with silence). 0 when a track's
   device could not be reopened. */
ZAMBREL_PUBLIC int32_t ZambSoundOnOff(ZambMovie* movie, int32_t on);
ZAMBREL_PUBLIC void ZambSummary(ZambMovie* movie, ZambPlaybackSummary* out);
/* Library-wide settings that ZambOpen picks up with ZAMB_READ_SPEED and ZAMB_FRAME_RATE.
   Each ZambOpen with the flag copies the value at the moment it opens: set it before that
   open, on the thread that uses this interface, never while another thread is inside one
   of its calls. Movies already open keep what they took. Decoder handles ignore both. */
ZAMBREL_PUBLIC void ZambSetReadSpeed(int32_t bytesPerSecond);
ZAMBREL_PUBLIC void ZambSetFrameRate(int32_t framesPerSecond);
/* Keeps the sound flowing around long work of the caller; on the thread that uses this
   interface, like every call in it. */
ZAMBREL_PUBLIC void ZambServiceSound(void);

#ifdef __cplusplus
}
#endif

#endif /* ZAMBREL_MOVIE_H */

/* The short names of 0.1 (FILE_RING, BLOCK_SKIP, Movie, PlaybackSummary, ...), which the
   system's own code uses: a program written against them defines ZAMBREL_SHORT_NAMES before
   including this header. They are not defined otherwise, since an embedding program's own
   names (an enum's BLOCK_SKIP, a class Movie) would collide with them. Outside the header's
   guard, so that an inclusion with the macro after one without still adds them. */
#if defined(ZAMBREL_SHORT_NAMES) && !defined(ZAMBREL_MOVIE_SHORT_NAMES)
#define ZAMBREL_MOVIE_SHORT_NAMES
#define FILE_RING ZAMB_FILE_RING
#define FILE_INTERLACED ZAMB_FILE_INTERLACED
#define FILE_DOUBLED ZAMB_FILE_DOUBLED
#define TRACK_COMPRESSED ZAMB_TRACK_COMPRESSED
#define TRACK_PRESENT ZAMB_TRACK_PRESENT
#define TRACK_16BIT ZAMB_TRACK_16BIT
#define TRACK_STEREO ZAMB_TRACK_STEREO
#define TRACK_RATE_MASK ZAMB_TRACK_RATE_MASK
#define FRAME_PALETTE ZAMB_FRAME_PALETTE
#define FRAME_TRACK0 ZAMB_FRAME_TRACK0
#define FRAME_TRACK1 ZAMB_FRAME_TRACK1
#define FRAME_TRACK2 ZAMB_FRAME_TRACK2
#define FRAME_TRACK3 ZAMB_FRAME_TRACK3
#define FRAME_TRACK4 ZAMB_FRAME_TRACK4
#define FRAME_TRACK5 ZAMB_FRAME_TRACK5
#define FRAME_TRACK6 ZAMB_FRAME_TRACK6
#define BLOCK_MONO ZAMB_BLOCK_MONO
#define BLOCK_FULL ZAMB_BLOCK_FULL
#define BLOCK_SKIP ZAMB_BLOCK_SKIP
#define BLOCK_SOLID ZAMB_BLOCK_SOLID
typedef ZambMovie Movie;
typedef ZambPlaybackSummary PlaybackSummary;
#endif
