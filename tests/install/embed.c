/* SPDX-License-Identifier: MIT */
/* A C program built against an installed libzambrel: it decodes every frame of a movie and
   prints the header's size and the frames it decoded, for comparison with zmbtool info.
   With "sound" after the movie it opens the first sound track too and says whether it
   opened (it needs SDL2 and a device). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <zambrel/blit.h>
#include <zambrel/movie.h>

int main(int argc, char** argv) {
    if (argc != 2 && !(argc == 3 && strcmp(argv[2], "sound") == 0)) return 2;
    ZambMovie* movie = ZambOpen(argv[1], argc == 3 ? ZAMB_TRACK0 : 0, 0xFFFFFFFFu);
    if (!movie) return 1;
    unsigned char* picture = calloc((size_t)movie->Width * movie->Height, 1);
    ZambSetDestination(movie, 0, 0, (int32_t)movie->Width, (int32_t)movie->Height, picture, 0);
    uint32_t decoded = 0;
    for (; decoded < movie->FrameCount && !movie->ReadFailed; ++decoded) {
        ZambDoFrame(movie);
        ZambNextFrame(movie);
    }
    printf("width: %u\nheight: %u\nframes: %u\n", (unsigned)movie->Width, (unsigned)movie->Height,
           (unsigned)decoded);
    if (argc == 3) printf("track 0: %s\n", movie->Tracks[0] ? "open" : "not open");
    ZambClose(movie);
    free(picture);
    return 0;
}
