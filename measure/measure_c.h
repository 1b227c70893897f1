/*
 * The domain measurement for other programs (Python through ctypes, for example): a grey image
 * as width * height doubles, rows from the top; an optional background of the same size (a Kerr
 * difference); an optional rectangle (columns x1..x2-1, rows y1..y2-1; all 0 for the whole
 * image). Returns 0 and fills the result, or 1 with result->error set when the measurement
 * cannot be made (the numbers are then 0).
 */
#ifndef TOVRA_MEASURE_C_H
#define TOVRA_MEASURE_C_H

#include <stdint.h>

#if defined(TOVRA_MEASURE_BUILDING)
#define TOVRA_MEASURE_API __attribute__((visibility("default")))
#else
#define TOVRA_MEASURE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct TovraMeasurement {
    char pattern[16]; /* "stripes", "maze", "bubbles" or "none" */
    char error[160];
    double black_fraction;
    double black_width_px, white_width_px, period_px, period_fft_px;
    double orientation_deg, anisotropy, threshold;
    int32_t bands; /* how many bands tovra_measure_band can give */
    /* Standard errors of the numbers above, and what they rest on. */
    double black_fraction_se, black_width_se_px, white_width_se_px, period_se_px;
    double periods_across;
    int32_t reliable; /* 1 where no warning says the numbers should not be used */
    int32_t warnings; /* how many warnings the record (tovra_measure_json) lists */
} TovraMeasurement;

TOVRA_MEASURE_API int32_t tovra_measure(const double* image, int32_t width, int32_t height,
                                        const double* background, int32_t x1, int32_t y1, int32_t x2,
                                        int32_t y2, TovraMeasurement* result);

/* Band k (0-based) of the last tovra_measure on this thread: position along the normal, angle,
 * width and colour (1 black, 0 white). 0 on success, 1 for no such band. */
TOVRA_MEASURE_API int32_t tovra_measure_band(int32_t k, double* position_px, double* angle_deg,
                                             double* width_px, int32_t* black);

/* The whole record of the last tovra_measure on this thread as JSON text, with its warnings,
 * bubbles and bands: the same record the command line writes. Copies at most size - 1 bytes and
 * a terminating 0 into text (nothing where text is NULL or size is 0) and returns the record's
 * full length, so that a caller can ask first and then give room enough. */
TOVRA_MEASURE_API int32_t tovra_measure_json(char* text, int32_t size);

/* The same record with the widths in micrometres too, at pixel_size_um micrometres a pixel (as
 * tovra_measure_json where it is not above 0 or not finite). */
TOVRA_MEASURE_API int32_t tovra_measure_record(char* text, int32_t size, double pixel_size_um);

/* Bubbles followed through frames: frame f holds counts[f] bubbles, all frames' bubbles given in
 * order by their centres x, y, the standard error of each coordinate (se, NULL where not known),
 * their diameters (NULL for none) and whether each centre is the bubble's own (inside: 0 for one
 * the border cuts or run together with another, whose steps count for neither the drift nor the
 * MSD; NULL for all). values: one a frame (a field, a time), or NULL for the frame
 * numbers. max_step: the furthest a bubble moves between frames (pixels), 0 for half the median
 * nearest-neighbour distance; memory: frames a bubble may be missed. Writes each bubble's track
 * (from 0) into track_ids, as many as the bubbles. Returns 0, or 1 where nothing can be linked (the
 * summary then says why). */
TOVRA_MEASURE_API int32_t tovra_track(const double* x, const double* y, const double* se,
                                      const double* diameter, const uint8_t* inside, const int64_t* counts,
                                      int32_t frames, const double* values, double max_step, int32_t memory,
                                      int32_t* track_ids);

/* The summary of the last tovra_track on this thread as JSON text (the counts, the drift by frame,
 * the MSD, the diffusion coefficient, the pinned share; µm too at pixel_size_um above 0), copied as
 * tovra_measure_json copies: returns the full length. */
TOVRA_MEASURE_API int32_t tovra_track_summary(char* text, int32_t size, double pixel_size_um);

/* Walls moving between frames: `frames` frames of width * height doubles one after another, their
 * values (NULL for the frame numbers), each step's duration in seconds (frames - 1 of them, or NULL),
 * an optional background of one frame's size, the rectangle measured and the one aligned on (all 0
 * for the whole frames; columns x1..x2-1, rows y1..y2-1). Fills `switching` (width * height floats,
 * or NULL) with each pixel's last switching value (NaN for none). Returns 0, or 1 with the error in
 * the result (tovra_motion_json). */
TOVRA_MEASURE_API int32_t tovra_motion(const double* frames, int32_t count, int32_t width, int32_t height,
                                       const double* values, const double* durations,
                                       const double* background, const int32_t* rect, const int32_t* align,
                                       float* switching);

/* The last tovra_motion on this thread as JSON text, {"steps": [...], "summary": {...}} (the creep
 * fits where `fit_creep` is 1; µm and m/s too at pixel_size_um above 0), copied as tovra_measure_json
 * copies: returns the full length. */
TOVRA_MEASURE_API int32_t tovra_motion_json(char* text, int32_t size, double pixel_size_um,
                                            int32_t fit_creep);

#ifdef __cplusplus
}
#endif

#endif
