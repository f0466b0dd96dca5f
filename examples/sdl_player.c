/* SPDX-License-Identifier: MIT */
/* A minimal player on the embedding interface: one window with the picture enlarged by the
   largest whole factor that fits, track 0's sound through an SDL audio stream, Space to
   pause, Escape to stop. The handle is only ever used on this thread: the audio callback
   reads from the stream, which this thread fills.

   zambrel-play MOVIE [--frames N] */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <SDL2/SDL.h>
#include <zambrel/decoder.h>

typedef struct Player {
    ZambDecoder* decoder;
    ZambMovieInfo info;
    SDL_Window* window;
    SDL_Renderer* renderer;
    SDL_Texture* texture;
    Uint8* rgba; /* the picture as the texture holds it */
    SDL_AudioDeviceID audio;
    SDL_AudioStream* stream;
    int paused;
    int quit;
} Player;

/* Runs on SDL's audio thread: takes what the stream has, silence for the rest. */
static void FillAudio(void* userdata, Uint8* out, int length) {
    Player* player = userdata;
    int got = SDL_AudioStreamGet(player->stream, out, length);
    if (got < 0) got = 0;
    memset(out + got, 0, (size_t)(length - got));
}

/* Sound for track 0 when the movie has it and a device opens; the movie plays silently
   otherwise. */
static void OpenSound(Player* player) {
    const ZambTrackInfo* track = &player->info.Tracks[0];
    if (!track->Decoded || SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return;
    SDL_AudioSpec want, have;
    SDL_zero(want);
    want.freq = 44100;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 1024;
    want.callback = FillAudio;
    want.userdata = player;
    player->audio = SDL_OpenAudioDevice(NULL, 0, &want, &have, 0);
    if (player->audio == 0) return;
    const SDL_AudioFormat from = track->BitsPerSample == 16 ? AUDIO_S16LSB : AUDIO_U8;
    player->stream = SDL_NewAudioStream(from, (Uint8)track->Channels, (int)track->SampleRate,
                                        have.format, have.channels, have.freq);
    if (player->stream == NULL) {
        SDL_CloseAudioDevice(player->audio);
        player->audio = 0;
        return;
    }
    SDL_PauseAudioDevice(player->audio, 0);
}

/* Moves the handle's queued sound into the audio stream. */
static void FeedSound(Player* player) {
    if (player->audio == 0) return;
    Uint8 buffer[16384];
    size_t got;
    while ((got = ZambDecoderReadSound(player->decoder, 0, buffer, sizeof buffer)) != 0) {
        SDL_LockAudioDevice(player->audio);
        SDL_AudioStreamPut(player->stream, buffer, (int)got);
        SDL_UnlockAudioDevice(player->audio);
    }
}

/* The largest whole factor at which the picture fits the display. */
static int ScaleFor(const ZambMovieInfo* info) {
    SDL_DisplayMode mode;
    int scale = 1;
    if (SDL_GetDesktopDisplayMode(0, &mode) != 0) return 1;
    while ((uint32_t)mode.w >= info->Width * (scale + 1) &&
           (uint32_t)mode.h >= info->Height * (scale + 1))
        ++scale;
    return scale;
}

static int OpenWindow(Player* player) {
    const int scale = ScaleFor(&player->info);
    player->window =
        SDL_CreateWindow("Zambrel", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                         (int)player->info.Width * scale, (int)player->info.Height * scale, 0);
    if (player->window == NULL) return 0;
    player->renderer = SDL_CreateRenderer(player->window, -1, 0);
    if (player->renderer == NULL) return 0;
    /* Whole factors only, so every pixel stays a sharp square. */
    SDL_RenderSetIntegerScale(player->renderer, SDL_TRUE);
    SDL_RenderSetLogicalSize(player->renderer, (int)player->info.Width, (int)player->info.Height);
    player->texture =
        SDL_CreateTexture(player->renderer, SDL_PIXELFORMAT_RGBA32, SDL_TEXTUREACCESS_STREAMING,
                          (int)player->info.Width, (int)player->info.Height);
    player->rgba = calloc((size_t)player->info.Width * player->info.Height, 4);
    return player->texture != NULL && player->rgba != NULL;
}

/* Uploads the new picture: only the rectangles that changed, unless the palette did. */
static void ShowFrame(Player* player) {
    const size_t pitch = (size_t)player->info.Width * 4;
    ZambDecoderGetPicture(player->decoder, ZAMBPIX_RGBA32, player->rgba, pitch,
                          pitch * player->info.Height, ZAMBPIC_CHANGED_ONLY);
    ZambFrameInfo frame;
    ZambDecoderGetFrameInfo(player->decoder, &frame, sizeof frame);
    ZambRect rects[64];
    const uint32_t count = ZambDecoderGetChangedRects(player->decoder, rects, 64);
    if (frame.PaletteChanged || count > 64) {
        SDL_UpdateTexture(player->texture, NULL, player->rgba, (int)pitch);
    } else {
        for (uint32_t i = 0; i < count; ++i) {
            const SDL_Rect r = {rects[i].X, rects[i].Y, rects[i].W, rects[i].H};
            SDL_UpdateTexture(player->texture, &r, player->rgba + r.y * pitch + r.x * 4,
                              (int)pitch);
        }
    }
    SDL_RenderClear(player->renderer);
    SDL_RenderCopy(player->renderer, player->texture, NULL, NULL);
    SDL_RenderPresent(player->renderer);
}

static void HandleEvents(Player* player) {
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (event.type == SDL_QUIT) player->quit = 1;
        if (event.type != SDL_KEYDOWN) continue;
        if (event.key.keysym.sym == SDLK_ESCAPE) player->quit = 1;
        if (event.key.keysym.sym == SDLK_SPACE) {
            player->paused = !player->paused;
            if (player->audio != 0) SDL_PauseAudioDevice(player->audio, player->paused);
        }
    }
}

/* Milliseconds from the start at which frame `n` is due: the caller's clock decides. */
static double DueTime(const ZambMovieInfo* info, unsigned long n) {
    return 1000.0 * n * info->FrameDurationNum / info->FrameDurationDen;
}

static unsigned long Play(Player* player, unsigned long limit) {
    unsigned long shown = 0;
    Uint64 start = SDL_GetTicks64(), pausedAt = 0;
    while (!player->quit && shown < limit) {
        HandleEvents(player);
        if (player->paused) {
            if (pausedAt == 0) pausedAt = SDL_GetTicks64();
            SDL_Delay(10);
            continue;
        }
        if (pausedAt != 0) {
            start += SDL_GetTicks64() - pausedAt;
            pausedAt = 0;
        }
        const double wait = DueTime(&player->info, shown) - (double)(SDL_GetTicks64() - start);
        if (wait > 1) {
            SDL_Delay(wait > 10 ? 10 : (Uint32)wait);
            continue;
        }
        const ZambError result = ZambDecoderNextFrame(player->decoder);
        if (result != ZAMBERR_NONE) {
            if (result < 0) fprintf(stderr, "zambrel-play: %s\n", ZambErrorString(result));
            break;
        }
        FeedSound(player);
        ShowFrame(player);
        ++shown;
    }
    return shown;
}

int main(int argc, char** argv) {
    if (argc != 2 && !(argc == 4 && strcmp(argv[2], "--frames") == 0)) {
        fprintf(stderr, "usage: zambrel-play MOVIE [--frames N]\n");
        return 2;
    }
    const unsigned long limit = argc == 4 ? strtoul(argv[3], NULL, 10) : (unsigned long)-1;
    Player player;
    memset(&player, 0, sizeof player);
    const ZambError error = ZambDecoderOpenFile(argv[1], 0, &player.decoder);
    if (error != ZAMBERR_NONE) {
        fprintf(stderr, "zambrel-play: %s: %s\n", argv[1], ZambErrorString(error));
        return 1;
    }
    ZambDecoderGetInfo(player.decoder, &player.info, sizeof player.info);
    if (SDL_Init(SDL_INIT_VIDEO) != 0 || !OpenWindow(&player)) {
        fprintf(stderr, "zambrel-play: %s\n", SDL_GetError());
        return 1;
    }
    OpenSound(&player);
    const unsigned long shown = Play(&player, limit);
    printf("%lu frames shown\n", shown);
    if (player.audio != 0) SDL_CloseAudioDevice(player.audio);
    if (player.stream != NULL) SDL_FreeAudioStream(player.stream);
    SDL_DestroyTexture(player.texture);
    free(player.rgba);
    SDL_DestroyRenderer(player.renderer);
    SDL_DestroyWindow(player.window);
    SDL_Quit();
    ZambDecoderClose(player.decoder);
    return 0;
}
