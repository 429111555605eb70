// brom-player: XM and MOD tracker modules rendered and played from the Brom library (WebAssembly).

/** Where brom.wasm comes from: compiled, its bytes, or its URL (default: beside index.js). */
export type WasmSource = WebAssembly.Module | ArrayBuffer | ArrayBufferView | URL | string;
export type SongBytes = ArrayBuffer | ArrayBufferView;

/** A module could not be loaded, or a value was refused. */
export declare class BromError extends Error {
  readonly code: "argument" | "io" | "format" | "truncated" | "memory" | string;
  /** The library's own line about what exactly is wrong. */
  readonly reason: string;
}

export interface Position {
  timeMs: number;
  order: number;
  pattern: number;
  row: number;
  speed: number;
  bpm: number;
}

export interface SongInfo {
  channels: number;
  songLength: number;
  restart: number;
  patterns: number;
  instruments: number;
  speed: number;
  bpm: number;
  linear: boolean;
}

export interface Cell {
  note: number;
  instrument: number;
  volume: number;
  effect: number;
  param: number;
}

export interface InstrumentInfo {
  name: string;
  samples: number;
  volumePoints: number;
  volumeEnvelope: boolean;
  panningPoints: number;
  panningEnvelope: boolean;
  fadeout: number;
  vibratoType: number;
  vibratoSweep: number;
  vibratoDepth: number;
  vibratoRate: number;
}

export interface SampleInfo {
  name: string;
  length: number;
  loopStart: number;
  loopLength: number;
  loop: "none" | "forward" | "ping-pong";
  volume: number;
  finetune: number;
  panning: number;
  relativeNote: number;
  bits: number;
}

/** One song of the order list: where it starts and one pass of it at the current rate. */
export interface Subsong {
  order: number;
  row: number;
  durationMs: number;
  /** The same pass in frames, exact. */
  frames: number;
  /** "" where the format names none. */
  name: string;
}

/** What a channel plays after the last frame rendered. */
export interface ChannelState {
  /** 1..120 (C-0 ...), 0 when the channel plays nothing. */
  note: number;
  /** From 1; 0 when it plays nothing. */
  instrument: number;
  /** The instrument's sample, from 0; -1 when none. */
  sample: number;
  /** 0..64 */
  volume: number;
  /** 0 left .. 255 right */
  panning: number;
  /** The sample's frames per second as it plays now; 0 when none. */
  frequency: number;
  /** Voices sounding for it: its note, one fading out, notes in the background. */
  voices: number;
}

export type Interpolation = "nearest" | "linear" | "cubic" | "sinc";
export type AmigaModel = "off" | "a500" | "a1200";
export type SongEnd = "stop" | "loop" | "fade";
export type StemGrouping = "channel" | "instrument";

/** One loaded module and its playback. Calls on one module must not overlap. */
export declare class BromModule {
  readonly title: string;
  /** The program that wrote the file, as the file names it. */
  readonly tracker: string;
  /** "XM", "MOD", "S3M" or "IT", as the file's bytes tell. */
  readonly format: string;
  /** The song message (Impulse Tracker modules); "" for none. */
  readonly message: string;
  readonly info: SongInfo;
  readonly channels: number;
  /** The pattern played at each order position. */
  readonly orders: number[];
  readonly instrumentNames: string[];
  readonly instruments: InstrumentInfo[];
  /** What the loader repaired in a damaged file. */
  readonly repairs: string[];
  /** One pass at the current rate. */
  readonly durationMs: number;
  /** Where the song is after the last frame rendered. */
  readonly position: Position;
  /** How loud each channel's note is now, 0..255. */
  readonly levels: number[];
  samples(instrument: number): SampleInfo[];
  patternRows(pattern: number): number;
  cell(pattern: number, row: number, channel: number): Cell;
  /** A cell as the format's tracker writes it, such as "C#4 01 40 A0F" (XM). */
  cellText(pattern: number, row: number, channel: number): string;
  orderTimeMs(order: number): number;

  /** The songs of the order list, 1 or more. */
  readonly subsongCount: number;
  readonly subsongs: Subsong[];
  /** The subsong playing, from 0; -1 (at first) the whole order list. Selecting one plays it
   *  from its start; position, duration and seeks then act within it. */
  subsong: number;
  /** The subsong that first plays a row of the order position; -1 when none. */
  orderSubsong(order: number): number;
  /** How the song ends once its last pass comes round: "stop" (the default), "loop" without
   *  end, or "fade" over `fadeMs` (1..600000, default 10000), then stop. */
  setEnd(how: SongEnd, fadeMs?: number): void;
  readonly end: SongEnd;
  readonly fadeMs: number;

  /** 8000..192000 (default 44100); before the first render or right after a seek. */
  sampleRate: number;
  /** Passes after the first: 0 ends where the song first comes round, -1 never. */
  repeat: number;
  /** -60..24 dB before the conversion to 16 bits; 0 is the exact mix. */
  gainDb: number;
  /** Stereo separation 0..200 %. */
  stereo: number;
  /** "brom" (the default) or "ft2" (XM as FastTracker 2 played it); before the first render or
   *  right after a seek. */
  profile: string;
  /** How samples are read between their frames (default "linear"); heard from the next 1/50 s. */
  interpolation: Interpolation;
  /** The Amiga's sound, for MOD files only (other formats throw BromError). */
  amiga: AmigaModel;
  mute(channel: number, muted?: boolean): void;
  muted(channel: number): boolean;
  level(channel: number): number;
  /** The channel's peak over the last 1/50 s rendered, [left, right], 1.0 full scale. */
  peak(channel: number): [number, number];
  channelState(channel: number): ChannelState;
  /** Notes sounding on in the background after their channel started another. */
  readonly backgroundNotes: number;
  /** Frames each channel's scope keeps, 0..8192 (0, the default: off). */
  scopeFrames: number;
  /** The channel's own signal over the last `scopeFrames` frames, interleaved stereo. */
  scope(channel: number): Float32Array;
  /** Sample-exact, backwards too. */
  seek(seconds: number): void;
  seekMs(ms: number): void;
  /** As a position jump with a pattern break would. */
  seekOrder(order: number, row?: number): void;

  /** Up to `frames` (default: what `out` holds) interleaved stereo frames, 1.0 full scale;
   *  returns how many (fewer: the song has ended). */
  render(out: Float32Array, frames?: number): number;
  /** How render() takes the mix apart for renderStems; "off" by default. */
  stems: StemGrouping | "off";
  /** The stems rendered: the channels or the instruments; 0 while off. */
  readonly stemCount: number;
  /** Renders up to `frames` as render() does and takes the mix apart in the same pass (stem s
   *  is channel s, or instrument s, from 0); interleaved stereo arrays of the frames given. The
   *  stems added up give the mix to within 2^-19 of full scale. */
  renderStems(frames: number, by?: StemGrouping): { mix: Float32Array; stems: Float32Array[] };
  /** The same as 16-bit samples (at 44100 Hz: those of `brom-play --render`). */
  renderInt16(out: Int16Array, frames?: number): number;
  /** The rest of the song as the 16-bit WAV file `brom-play --render` writes. */
  renderWav(): Uint8Array;
  /** Frees the library's module. */
  free(): void;
}

/** One instance of the library, with its own memory. */
export declare class Library {
  version(): string;
  load(data: SongBytes): BromModule;
}

export declare function compileLibrary(source?: WasmSource): Promise<WebAssembly.Module>;
export declare function createLibrary(source?: WasmSource): Promise<Library>;
/** Loads a module from the file's bytes; throws BromError with the library's reason. */
export declare function loadModule(data: SongBytes, options?: { wasm?: WasmSource }): Promise<BromModule>;
export declare function version(): Promise<string>;

export interface PlayerPosition extends Position {
  /** Per channel, 0..255. */
  levels: number[];
  /** Frames played since the player was made. */
  frame: number;
}

export interface PlayerOptions {
  wasm?: WasmSource;
  /** Where the sound goes (default: the context's destination; null: nowhere yet). */
  destination?: AudioNode | null;
  /** Start at once, without play(). */
  autoplay?: boolean;
  /** Frames between "position" events (default 1024). */
  positionFrames?: number;
  /** Settings before the first frame: sampleRate is the context's. */
  settings?: {
    repeat?: number;
    gainDb?: number;
    stereo?: number;
    mutes?: boolean[];
    profile?: string;
    interpolation?: Interpolation;
    amiga?: AmigaModel;
    subsong?: number;
  };
  /** worklet.js, when it is not served beside index.js. */
  workletUrl?: string | URL;
}

export interface PlayerEventMap {
  position: CustomEvent<PlayerPosition>;
  end: CustomEvent<undefined>;
  error: CustomEvent<string>;
}

/** A song playing through an AudioWorklet, rendered on the audio thread. */
export declare class Player extends EventTarget {
  static create(context: BaseAudioContext, data: SongBytes, options?: PlayerOptions): Promise<Player>;
  readonly context: BaseAudioContext;
  readonly node: AudioWorkletNode;
  /** The output, after which `volume` acts; connect it elsewhere at will. */
  readonly output: GainNode;
  /** A copy of the song on this thread, for what the file holds. */
  readonly module: BromModule;
  /** The last position the sound reported. */
  readonly position: PlayerPosition;
  readonly playing: boolean;
  readonly ended: boolean;
  play(): Promise<void>;
  pause(): void;
  seek(seconds: number): void;
  seekOrder(order: number, row?: number): void;
  mute(channel: number, muted?: boolean): void;
  volume: number;
  gainDb: number;
  stereo: number;
  repeat: number;
  interpolation: Interpolation;
  amiga: AmigaModel;
  /** Plays subsong `index` (from 0) from its start; -1 the whole order list. */
  subsong: number;
  setEnd(how: SongEnd, fadeMs?: number): void;
  dispose(): void;
  addEventListener<K extends keyof PlayerEventMap>(
    type: K,
    listener: (event: PlayerEventMap[K]) => void,
    options?: boolean | AddEventListenerOptions,
  ): void;
  addEventListener(
    type: string,
    listener: EventListenerOrEventListenerObject | null,
    options?: boolean | AddEventListenerOptions,
  ): void;
}
