// SPDX-License-Identifier: MIT
// <zambrel-player>: the <video> element's names where they fit, and what the format adds.

/** Why a movie could not be fetched, opened or decoded; `message` is the decoder's reason. */
export declare class ZambrelMediaError {
  static readonly MEDIA_ERR_ABORTED: 1;
  static readonly MEDIA_ERR_NETWORK: 2;
  static readonly MEDIA_ERR_DECODE: 3;
  static readonly MEDIA_ERR_SRC_NOT_SUPPORTED: 4;
  readonly code: 1 | 2 | 3 | 4;
  readonly message: string;
}

/** One sound track of the movie. */
export interface ZambrelTrack {
  readonly index: number;
  readonly sampleRate: number;
  readonly channels: 1 | 2;
  readonly bitsPerSample: 8 | 16;
  /** Stored delta-coded (the sound played is the same). */
  readonly compressed: boolean;
  /** Whether the browser can play it (Web Audio takes rates from 3,000 Hz). */
  readonly playable: boolean;
  /** Whether its sound was found damaged in the frame where the movie stopped. */
  readonly damaged: boolean;
  /** Whether it is heard; every decoded track is at first. */
  enabled: boolean;
}

export interface ZambrelPlayerEventMap extends HTMLElementEventMap {
  sounddamaged: CustomEvent<{ track: number; frame: number }>;
}

export declare class ZambrelPlayer extends HTMLElement {
  static readonly MediaError: typeof ZambrelMediaError;

  src: string;
  readonly currentSrc: string;
  controls: boolean;
  autoplay: boolean;
  loop: boolean;
  poster: string;
  defaultMuted: boolean;
  muted: boolean;
  /** 0 to 1; anything else throws an IndexSizeError. */
  volume: number;
  /** Seconds; setting it shows the frame due at that time. */
  currentTime: number;
  /** Seconds; NaN before a movie is open. */
  readonly duration: number;
  readonly paused: boolean;
  readonly ended: boolean;
  readonly seeking: boolean;
  readonly readyState: 0 | 1 | 2 | 3 | 4;
  readonly networkState: 0 | 1 | 2 | 3;
  readonly error: ZambrelMediaError | null;
  readonly videoWidth: number;
  readonly videoHeight: number;
  readonly buffered: TimeRanges;
  readonly seekable: TimeRanges;
  readonly played: TimeRanges;
  readonly playbackRate: number;
  readonly defaultPlaybackRate: number;
  /** 'auto' (the default) fetches the whole movie; 'metadata' stops once the first picture is
   * shown, until it plays or a seek needs more; 'none' fetches nothing until then. */
  preload: 'none' | 'metadata' | 'auto' | '';
  /** The movie is fetched with CORS; 'use-credentials' sends the page's cookies. A movie from
   * another site plays only when its server allows the page to read it. */
  crossOrigin: 'anonymous' | 'use-credentials' | null;

  /** Resolves when playing begins; rejects with NotAllowedError when the browser holds the
   * sound back until the user acts (a muted movie may start). */
  play(): Promise<void>;
  pause(): void;
  load(): void;
  canPlayType(type: string): '' | 'maybe' | 'probably';

  /** Loads a movie that is not at a URL: a File, a Blob, an ArrayBuffer or bytes. */
  loadBytes(source: Blob | ArrayBuffer | ArrayBufferView, name?: string): void;
  /** Each sound track of the movie. */
  readonly tracks: ZambrelTrack[];
  /** The index of the frame shown, 0 for the first; setting it shows exactly that frame. */
  frame: number;
  readonly frameCount: number;
  /** One more frame while paused. */
  step(): void;
  /** The picture shown in the palette's exact colours, or null before the first frame. */
  snapshot(): ImageData | null;

  addEventListener<K extends keyof ZambrelPlayerEventMap>(
    type: K, listener: (this: ZambrelPlayer, event: ZambrelPlayerEventMap[K]) => unknown,
    options?: boolean | AddEventListenerOptions): void;
  addEventListener(type: string, listener: EventListenerOrEventListenerObject,
                   options?: boolean | AddEventListenerOptions): void;
  removeEventListener<K extends keyof ZambrelPlayerEventMap>(
    type: K, listener: (this: ZambrelPlayer, event: ZambrelPlayerEventMap[K]) => unknown,
    options?: boolean | EventListenerOptions): void;
  removeEventListener(type: string, listener: EventListenerOrEventListenerObject,
                      options?: boolean | EventListenerOptions): void;
}

export default ZambrelPlayer;

declare global {
  interface HTMLElementTagNameMap {
    'zambrel-player': ZambrelPlayer;
  }
}
