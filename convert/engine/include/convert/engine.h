/* The conversion engine, libconvert.so: trims, stitches, transcodes and joins videos and
 * converts frames between pixel formats. Programs load it by name with dlopen and resolve
 * the five functions below with dlsym.
 *
 * Jobs are described by ffmpeg-style argument vectors, argv[0] being "ffmpeg":
 *
 *   conversion  ffmpeg [-y|-n] [-d] -ss START -i INPUT -t DURATION CODEC... OUTPUT
 *     -y            replace a file that has the output's name (without it such a file is
 *                   never touched: CONVERT_ERR_OUTPUT_EXISTS). The output is never one of
 *                   the inputs, whatever its name or its case on a file system that
 *                   ignores case (CONVERT_ERR_OUTPUT_IS_INPUT); an input that changes
 *                   while the job runs fails it (CONVERT_ERR_INPUT_CHANGED).
 *     -n            do not take the output's name at the start (see below): for a name the
 *                   user gave, which a killed job must not leave behind as an empty file.
 *     -allow_missing   convert what the input holds of the range although frames of it are
 *                   missing (see CONVERT_ERR_MISSING_FRAMES below).
 *     -progress pipe:FD   when the job ends, done or failed after reading the input, write
 *                   the lines "frames_expected=N" (the frames of the range by the input's
 *                   index, -1 when it has none) and "frames_converted=M" (those read and
 *                   decoded) to the open file descriptor FD, which stays open.
 *     -d            stitch the input: the engine reads the camera calibration from INPUT
 *                   and turns dual- or single-fisheye frames into an equirectangular
 *                   panorama W x W/2 (W the source width). Recordings the camera stitched
 *                   itself are stream-copied.
 *     -reframe FILE -s WxH   a flat video instead of a panorama: every frame of the
 *                   panorama (stitched with -d, else the input's own equirectangular
 *                   picture) is seen through the pinhole camera that the view path in
 *                   FILE points at the frame's time from START (reframe/view_path.h), at
 *                   W x H (both even, 16..8192). The output carries no spherical metadata.
 *                   A FILE that cannot be read or has a mistake: CONVERT_ERR_VIEW_PATH.
 *     START, DURATION   HH:MM:SS[.fff] or seconds; the output holds the frames whose
 *                   presentation time lies in [START, START + DURATION).
 *     CODEC         either "-c copy" (stream copy from the key frame at or before START),
 *                   or encoder options: -c:v libx264|libx265 (H.264, the default, or
 *                   H.265), -pix_fmt yuv420p, -b:v RATE[k|M], -r FPS, -profile:v PROFILE
 *                   (H.265: main only), -preset PRESET, -refs N, -bf N. H.265 is written
 *                   in 'hvc1' sample entries, its parameter sets in the entry only.
 *   merge       ffmpeg [-y|-n] -f concat -i LIST -c copy OUTPUT
 *     LIST          a text file of lines "file 'PATH'" (LF or CR LF); the files must share
 *                   codec (else CONVERT_ERR_MERGE_CODECS), codec setup, frame size, time
 *                   base and audio parameters (else CONVERT_ERR_MERGE_MISMATCH). Each file
 *                   starts where the previous one's video track ends, so that the parts of
 *                   one conversion cut at frame boundaries join into that conversion.
 *
 * Every output is an MP4 with its movie box first (playable while downloading). Stitched
 * outputs carry Spherical Video V1 and V2 metadata; copies and merges carry the input's.
 * Paths are file names only: no input or output is ever opened through another protocol
 * (a name such as "http://..." or "cache:..." is a file of that name), and an input that is
 * not a regular file (a pipe, a device) is refused before it is opened.
 *
 * Without -y or -n the output's name is taken at once by an empty file, so that no other job
 * picks it meanwhile (for names a program picked). The output is written to one temporary file in the output's folder
 * (it needs the space of the output once, plus its movie box), rewritten in place with the movie box first and given
 * the output's name only when complete, so a failed or stopped job leaves nothing behind: neither the temporary nor the
 * claimed name (where the file system has unnamed temporary files, a killed process leaves at most the empty claim). A
 * job whose input is damaged (its media data ends before the range does) fails with CONVERT_ERR_DAMAGED_INPUT instead
 * of writing a shorter file, and one that converts more than one frame fewer than the input's index holds for the range
 * (media data cut off, chunks pointing at the wrong data) fails with CONVERT_ERR_MISSING_FRAMES; with -allow_missing
 * both write what is there.
 *
 * The library exports these five functions and nothing else. None of them lets a C++
 * exception out: a failure to allocate or to start a thread is a result code.
 */
#ifndef CONVERT_ENGINE_H_
#define CONVERT_ENGINE_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes of synth_trans and rescale_csconvert. */
enum {
  CONVERT_OK = 0,
  CONVERT_ERR_ARGUMENTS = -1001,       /* the argument vector is not one the engine accepts */
  CONVERT_ERR_OPEN_INPUT = -1002,      /* an input cannot be opened or read as a video */
  CONVERT_ERR_NO_VIDEO = -1003,        /* the input holds no video stream */
  CONVERT_ERR_DECODE = -1004,          /* the video cannot be decoded */
  CONVERT_ERR_ENCODER = -1005,         /* the video encoder refuses the options */
  CONVERT_ERR_CALIBRATION = -1006,     /* stitching asked for, but no usable calibration */
  CONVERT_ERR_STITCH = -1007,          /* the stitcher cannot handle this frame size */
  CONVERT_ERR_MERGE_MISMATCH = -1008,  /* merge inputs differ in codec, size, time base or audio */
  CONVERT_ERR_MERGE_LIST = -1009,      /* the merge list cannot be read or names no file */
  CONVERT_ERR_WRITE = -1010,           /* writing the output failed (disk full, ...) */
  CONVERT_ERR_STOPPED = -1011,         /* stop_transcoding ended the job */
  CONVERT_ERR_NO_MEMORY = -1012,       /* out of memory */
  CONVERT_ERR_CREATE_OUTPUT = -1013,   /* the output file cannot be created */
  CONVERT_ERR_RANGE = -1014,           /* the start lies at or after the end of the input */
  CONVERT_ERR_AUDIO = -1015,           /* the audio stream cannot be stored or converted */
  CONVERT_ERR_FORMAT = -1016,          /* rescale_csconvert: unknown format code or bad size */
  CONVERT_ERR_UNSUPPORTED = -1017,     /* the operation is not provided */
  CONVERT_ERR_SYSTEM = -1018,          /* the system refused a thread or another resource */
  CONVERT_ERR_OUTPUT_EXISTS = -1019,   /* a file of the output's name exists (and -y was not given) */
  CONVERT_ERR_OUTPUT_IS_INPUT = -1020, /* the output is one of the input files */
  CONVERT_ERR_DISK_FULL = -1021,       /* the disk (or the user's quota) is full */
  CONVERT_ERR_PERMISSION = -1022,      /* a file or folder may not be read or written */
  CONVERT_ERR_DAMAGED_INPUT = -1023,   /* the input's media data ends before the range does */
  CONVERT_ERR_NOT_A_FILE = -1024,      /* an input is a folder, pipe or device, not a regular file */
  CONVERT_ERR_CODEC = -1025,           /* copying: MP4 cannot store the video's codec */
  CONVERT_ERR_MISSING_FRAMES = -1026,  /* frames of the range are missing from the input or cannot be decoded */
  CONVERT_ERR_INPUT_CHANGED = -1027,   /* an input changed while the job ran; no output was put in place */
  CONVERT_ERR_VIEW_PATH = -1028,       /* the view path file cannot be read or holds a mistake */
  CONVERT_ERR_MERGE_CODECS = -1029     /* merge inputs are encoded with different video codecs */
};

/* The message text of a result code. */
static inline const char* convert_result_message(int code) {
  switch (code) {
    case CONVERT_OK:
      return "Done.";
    case CONVERT_ERR_ARGUMENTS:
      return "The argument vector is not one the engine accepts.";
    case CONVERT_ERR_OPEN_INPUT:
      return "The input file cannot be opened or read as a video.";
    case CONVERT_ERR_NO_VIDEO:
      return "The input file holds no video stream.";
    case CONVERT_ERR_DECODE:
      return "The video cannot be decoded.";
    case CONVERT_ERR_ENCODER:
      return "The video encoder refuses the options.";
    case CONVERT_ERR_CALIBRATION:
      return "The input carries no usable camera calibration.";
    case CONVERT_ERR_STITCH:
      return "The stitcher cannot handle this frame size or calibration.";
    case CONVERT_ERR_MERGE_MISMATCH:
      return "The files to merge differ in codec, frame size, time base or audio parameters.";
    case CONVERT_ERR_MERGE_LIST:
      return "The merge list cannot be read or names no file.";
    case CONVERT_ERR_WRITE:
      return "Writing the output file failed.";
    case CONVERT_ERR_STOPPED:
      return "The job was stopped.";
    case CONVERT_ERR_NO_MEMORY:
      return "Out of memory.";
    case CONVERT_ERR_CREATE_OUTPUT:
      return "Failed to create output file.";
    case CONVERT_ERR_RANGE:
      return "The start of the range lies at or after the end of the input.";
    case CONVERT_ERR_AUDIO:
      return "The audio stream cannot be stored in MP4.";
    case CONVERT_ERR_FORMAT:
      return "Unsupported pixel format or frame size.";
    case CONVERT_ERR_UNSUPPORTED:
      return "The operation is not provided by this engine.";
    case CONVERT_ERR_SYSTEM:
      return "The system refused a thread or another resource the job needs.";
    case CONVERT_ERR_OUTPUT_EXISTS:
      return "A file of the output's name exists already; it was not replaced.";
    case CONVERT_ERR_OUTPUT_IS_INPUT:
      return "The output file is one of the input files.";
    case CONVERT_ERR_DISK_FULL:
      return "The disk is full.";
    case CONVERT_ERR_PERMISSION:
      return "Permission denied.";
    case CONVERT_ERR_DAMAGED_INPUT:
      return "The input file is damaged: its media data ends before the range does.";
    case CONVERT_ERR_NOT_A_FILE:
      return "The input is not a regular file.";
    case CONVERT_ERR_CODEC:
      return "The video's codec cannot be stored in an MP4 file.";
    case CONVERT_ERR_MISSING_FRAMES:
      return "The input file is damaged: frames of the range are missing or cannot be decoded.";
    case CONVERT_ERR_INPUT_CHANGED:
      return "An input file changed while the job ran; no output was written.";
    case CONVERT_ERR_VIEW_PATH:
      return "The view path file cannot be read or holds a mistake.";
    case CONVERT_ERR_MERGE_CODECS:
      return "The files to merge are encoded with different video codecs (such as H.264 and H.265).";
    default:
      return "Unknown result code.";
  }
}

/* Progress callback: progress in percent of the job, 0 to 100. Called from an engine
 * thread (not necessarily the one running synth_trans) at least once a second while a job
 * runs, and with 100 when it succeeds. */
typedef void (*convert_position_callback)(float progress, void* user);

/* Runs one job on the calling thread and returns when it is done, failed or was stopped.
 * argc/argv: the argument vector (see above). rotation: 0, 90, 180 or 270 degrees, the
 * direction the camera was held (stitched jobs only). reserved: 0. high_quality: 1 for the
 * converter's High setting, else 0 (the vector carries the encoder settings either way).
 * Returns CONVERT_OK or a negative result code. Several jobs may run at once. */
int synth_trans(int argc, const char* const* argv, int rotation, int reserved, int high_quality);

/* Asks every running job to stop; each returns CONVERT_ERR_STOPPED within about a second
 * and removes what it wrote. Any thread. Returns 0. */
int stop_transcoding(void);

/* Registers the progress callback and its user pointer (NULL: none) for later jobs and the
 * running ones. Returns 0. */
int setposition_callback(convert_position_callback callback, void* user);

/* Source format codes of rescale_csconvert: 32-bit pixels (the fourth byte is ignored) in
 * rows of src_width * 4 bytes, top row first; add CONVERT_ROWS_BOTTOM_UP for rows that lie
 * bottom row first in memory, as OpenGL reads a framebuffer back. */
enum {
  CONVERT_PIXELS_BGRA = 2, /* bytes B, G, R, A */
  CONVERT_PIXELS_RGBA = 3, /* bytes R, G, B, A */
  CONVERT_ROWS_BOTTOM_UP = 0x100
};

/* Scales one frame and converts it to planar YUV 4:2:0 in `dst` (ITU-R BT.601, limited
 * range): the Y plane of dst_width x dst_height, then U, then V, each
 * ((dst_width + 1) / 2) x ((dst_height + 1) / 2), rows top first. src_format: a code above.
 * A frame of even size that needs no scaling is converted without the scaler, several times
 * faster. reserved: 0. Returns CONVERT_OK or CONVERT_ERR_FORMAT. Any thread. */
int rescale_csconvert(const uint8_t* src, uint8_t* dst, int src_width, int src_height, int src_format, int dst_width,
                      int dst_height, int reserved);

/* Not provided: returns CONVERT_ERR_UNSUPPORTED. */
int synth_image(void);

#ifdef __cplusplus
}
#endif

#endif /* CONVERT_ENGINE_H_ */
