/* SPDX-License-Identifier: MIT */
/* The yardstick for what showing a movie in a window should cost: the least an SDL program
   can do to show the same pictures at the same rate. It decodes through the embedding
   interface, drains the sound it does not play, and copies only the changed rectangles into
   the window's own surface (no renderer, as the player's host has none). bench/window_cost.sh
   runs it in turn with the player.

   window_cost_minimal MOVIE */
#include <stdio.h>
#include <string.h>

#include <SDL2/SDL.h>
#include <zambrel/decoder.h>

enum { kMostRects = 256 };

/* Copies the picture's changed rectangles (all of it after a palette change) into the
   window surface, then hands only those to the window system. */
static void Show(ZambDecoder* decoder, SDL_Window* window, const ZambMovieInfo* info) {
    SDL_Surface* surface = SDL_GetWindowSurface(window);
    if (surface == NULL || surface->format->format != SDL_PIXELFORMAT_XRGB8888) return;
    ZambFrameInfo frame;
    ZambDecoderGetFrameInfo(decoder, &frame, sizeof frame);
    ZambRect rects[kMostRects];
    uint32_t count = ZambDecoderGetChangedRects(decoder, rects, kMostRects);
    const size_t bytes = (size_t)surface->pitch * info->Height;
    /* Little-endian BGRA is the surface's XRGB with the unused byte set. */
    ZambDecoderGetPicture(decoder, ZAMBPIX_BGRA32, surface->pixels, (size_t)surface->pitch, bytes,
                          ZAMBPIC_CHANGED_ONLY);
    if (frame.PaletteChanged || count > kMostRects) {
        SDL_UpdateWindowSurface(window);
        return;
    }
    SDL_Rect shown[kMostRects];
    for (uint32_t i = 0; i < count; ++i) {
        shown[i].x = rects[i].X;
        shown[i].y = rects[i].Y;
        shown[i].w = rects[i].W;
        shown[i].h = rects[i].H;
    }
    if (count > 0) SDL_UpdateWindowSurfaceRects(window, shown, (int)count);
}

static int Quit(void) {
    SDL_Event event;
    while (SDL_PollEvent(&event))
        if (event.type == SDL_QUIT) return 1;
    return 0;
}

static void DrainSound(ZambDecoder* decoder, const ZambMovieInfo* info) {
    unsigned char buffer[16384];
    for (uint32_t track = 0; track < 3; ++track)
        if (info->Tracks[track].Decoded)
            while (ZambDecoderReadSound(decoder, track, buffer, sizeof buffer) != 0) {
            }
}

/* Each frame is due by the clock at the movie's rate; the wait sleeps rather than spins. */
static unsigned long Play(ZambDecoder* decoder, SDL_Window* window, const ZambMovieInfo* info) {
    const Uint64 start = SDL_GetTicks64();
    unsigned long shown = 0;
    while (!Quit()) {
        const double due = 1000.0 * shown * info->FrameDurationNum / info->FrameDurationDen;
        const double wait = due - (double)(SDL_GetTicks64() - start);
        if (wait >= 1) {
            SDL_Delay(wait > 10 ? 10 : (Uint32)wait);
            continue;
        }
        if (ZambDecoderNextFrame(decoder) != ZAMBERR_NONE) break;
        DrainSound(decoder, info);
        Show(decoder, window, info);
        ++shown;
    }
    return shown;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: window_cost_minimal MOVIE\n");
        return 2;
    }
    ZambDecoder* decoder = NULL;
    if (ZambDecoderOpenFile(argv[1], 0, &decoder) != ZAMBERR_NONE) {
        fprintf(stderr, "window_cost_minimal: cannot open %s\n", argv[1]);
        return 1;
    }
    ZambMovieInfo info;
    ZambDecoderGetInfo(decoder, &info, sizeof info);
    SDL_Window* window = NULL;
    /* A plain frame buffer, as the player's host asks for: a renderer would cost its own. */
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    if (SDL_Init(SDL_INIT_VIDEO) == 0)
        window = SDL_CreateWindow("window_cost_minimal", 0, 0, (int)info.Width, (int)info.Height,
                                  SDL_WINDOW_SHOWN);
    if (window == NULL) {
        fprintf(stderr, "window_cost_minimal: %s\n", SDL_GetError());
        ZambDecoderClose(decoder);
        return 1;
    }
    printf("%lu frames shown\n", Play(decoder, window, &info));
    SDL_DestroyWindow(window);
    SDL_Quit();
    ZambDecoderClose(decoder);
    return 0;
}
