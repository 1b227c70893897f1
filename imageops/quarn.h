/*
 * Quarn: the image operation library of Tovra.
 *
 * Every working image is an image slot: two work files in the current directory named by the
 * decimal slot ID, the pixel file "<ID>_im.tmp" (width * height bytes, rows from the top) and the
 * info file "<ID>_inf.tmp" (width, height and ID, each line ended by CR CR LF). Slot ID + 8 is the
 * undo slot of slot ID: every export that changes a slot first stores the slot's previous image
 * there. Quarn keeps nothing in memory between calls.
 *
 * Pixel buffers are caller-owned arrays of 8-byte reals, pixel (x, y) at element y * width + x,
 * holding at least width * height elements of the slot concerned. Reading a slot turns each byte
 * into the real 0.0..255.0 (missing bytes of a short pixel file read as -1.0); writing truncates
 * each real toward zero and keeps the low 8 bits (a real with no 32-bit integer counts as 0).
 *
 * Every export returns a status code: the code of the first step that failed; files written by
 * earlier steps stay written.
 *   0 success
 *   1 a source slot could not be read
 *   2 the result could not be written to the slot
 *   3 the slot's info file could not be read for width and height
 *   4 the slot's info file could not be written
 *   5 the kernel failed (file not opened, invalid mode or argument), or a result file of Hist or
 *     Lhist could not be created
 *   6 the undo slot could not be written (in Undoim: read or written)
 */
#ifndef QUARN_H
#define QUARN_H

#include <stdint.h>

#if defined(QUARN_BUILDING)
#define QUARN_API __attribute__((visibility("default")))
#else
#define QUARN_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Load: fill a slot and its undo slot ------------------------------------------------------ */

/* Reads a raw image file of width x height into buf and stores it in slot id and id + 8.
 * Codes 5 (file not opened), 4, 6, 2, 6 in that order of steps. */
QUARN_API int32_t Openim(const char* name, int32_t width, int32_t height, int32_t id, double* buf);

/* Reads a CSV image file into buf, stretches it to 0..255 and stores it in slot id and id + 8. */
QUARN_API int32_t Opencsv(const char* name, int32_t width, int32_t height, int32_t id, double* buf);

/* Stores buf (width x height, as the caller filled it) in slot id and id + 8. */
QUARN_API int32_t Openxim(int32_t width, int32_t height, int32_t id, double* buf);

/* ---- Read-only: the slot is read into buf, no slot is written --------------------------------- */

/* Reads slot id into buf. Code 1 when it cannot be read. */
QUARN_API int32_t Toutim(int32_t id, double* buf);

/* Saves slot id as a raw image file. Codes 1, 3, 5. */
QUARN_API int32_t Saveim(const char* name, int32_t id, double* buf);

/* Saves slot id as a CSV image file. Codes 1, 3, 5. */
QUARN_API int32_t Savecsv(const char* name, int32_t id, double* buf);

/* Saves the rectangle x0 <= x < x1, y0 <= y < y1 of slot id as a raw image file. Codes 1, 3, and
 * 5 when the file cannot be written or a corner lies outside the image (no file is created then);
 * an empty rectangle inside the image writes an empty file. */
QUARN_API int32_t Savert(const char* name, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t id,
                         double* buf);

/* Stores the width and height of slot id. Code 3 (nothing stored) when its info file cannot be
 * read. */
QUARN_API int32_t Xyretid(int32_t id, int32_t* width, int32_t* height);

/* ---- In place: undo copy to id + 8, kernel, result back to id --------------------------------- */
/* Codes: 1 slot not read, 6 undo not written, 3 info not read, 5 kernel failed (the undo slot then
 * holds the unchanged image and the slot is untouched), 2 result not written. */

QUARN_API int32_t Conim(int32_t low, int32_t high, int32_t id, double* buf); /* contrast window */
QUARN_API int32_t Segmim(int32_t threshold, int32_t id, double* buf);        /* binarization */
QUARN_API int32_t Rofim(int32_t id, double* buf);                            /* over-value correction */
QUARN_API int32_t Rdim(int32_t id, double* buf);                             /* gradation inversion */
QUARN_API int32_t Medim(int32_t id, double* buf);                            /* recursive 3 x 3 median */
QUARN_API int32_t Edgeim(int32_t flag, int32_t id, double* buf);             /* edge, 0 two-level, 1 grey */
QUARN_API int32_t Dmim(int32_t id, double* buf);                             /* dust removal */
/* Axis flip: mode 0 left-right, 1 top-bottom (any other mode: 5); scratch holds width * height. */
QUARN_API int32_t Turnim(int32_t mode, int32_t id, double* buf, double* scratch);

/* ---- Two sources into a destination slot ---------------------------------------------------- */
/* The destination's undo slot receives its previous image; then a is read into buf and b into
 * buf2. Sources whose size differs from the destination's are refused with code 5 before any
 * pixel is combined (the destination is unchanged). Codes 1, 6, 1, 1, 3, 5, 2. */

/* dest = full-range stretch of (a - b). */
QUARN_API int32_t Dpim(int32_t a, int32_t b, int32_t dest, double* buf, double* buf2);
/* dest = a, with 0 wherever b is 0. */
QUARN_API int32_t Compoim(int32_t a, int32_t b, int32_t dest, double* buf, double* buf2);

/* ---- Undo: swap slot id with id + 8, pixels and sizes ---------------------------------------- */
/* scratch holds the undo image's width * height. Codes 6 (undo slot not read), 1, 3, 6, 6, 4, 2. */
QUARN_API int32_t Undoim(int32_t id, double* buf, double* scratch);

/* ---- Measurements ------------------------------------------------------------------------- */

/* Counts the grey levels 0..255 of slot id into "<number>_hdat.csv" (256 lines, each a count
 * followed by CR LF). Mode 0 stores the lowest level with the highest count in *result, mode 1
 * the mean level truncated (0 for an empty image); other modes leave *result alone.
 * Codes 1, 3, 5 (file not created; *result is stored already). */
QUARN_API int32_t Hist(int32_t mode, int32_t* result, int32_t number, int32_t id, double* buf);

/* Writes the profile down column x to "<number>_ylhdat.csv" (one line per image row) and along
 * row y to "<number>_xlhdat.csv" (one line per column). Entry 0 is 0; entry k is the grey value
 * at k truncated, or with mode 1 the step from k - 1 to k, stretched from its low..high onto
 * 0..255 (all entries 0 when every step is the same). Codes 1, 3, and 5 when x or y lies outside
 * the image (no file written) or a file cannot be created. */
QUARN_API int32_t Lhist(int32_t x, int32_t y, int32_t number, int32_t mode, int32_t id, double* buf);

/* Strongest line through the black pixels of x0 <= x < x1, y0 <= y < y1 of slot id (the region
 * clipped to the image) with fewer votes than *vote_bound; acc holds at least 2,253,301 reals.
 * See Hcck in quarnk.h. Codes 1, 3, and 5 when the step is below 0.12 degrees or not a number. */
QUARN_API int32_t Hcc(int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t* vote_bound, double step,
                      double* slope, double* intercept, int32_t id, double* buf, double* acc);

#ifdef __cplusplus
}
#endif

#endif
