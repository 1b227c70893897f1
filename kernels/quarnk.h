/*
 * Quarnk: the image kernel library of Tovra.
 *
 * Plain functions over a caller-owned pixel buffer of 8-byte reals: pixel (x, y) is element
 * y * width + x, rows from the top, x fastest. Grey values are 0.0 (black) to 255.0 (white).
 * The buffer must hold at least width * height elements; no kernel allocates pixel memory or
 * keeps a buffer. Every function returns 0 on success and -1 on failure.
 *
 * Writing converts each real by truncation toward zero to a 32-bit integer (a real with no such
 * integer - not a number, an infinity, beyond +-2^31 - is taken as 0); raw files keep the low
 * 8 bits of that integer (256.0 is written as 0, -1.0 as 255).
 */
#ifndef QUARNK_H
#define QUARNK_H

#include <stdint.h>

#if defined(QUARNK_BUILDING)
#define QUARNK_API __attribute__((visibility("default")))
#else
#define QUARNK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Image files ---------------------------------------------------------------------- */

/* Reads a raw image file (width * height bytes, no header) into buf. Bytes past the end of a
 * short file read as -1.0; bytes after width * height are ignored.
 * Returns 0, or -1 when the file cannot be opened (buf untouched). */
QUARNK_API int32_t Openk(const char* name, int32_t width, int32_t height, double* buf);

/* Reads width * height comma-separated decimal fields into buf, row-major; a line feed counts as
 * a comma and a carriage return is dropped. A field ends at its separator or after ten
 * characters; a character other than a digit, "," or "-" counts as the digit 0. The end of the
 * file ends the field being read, and every field after it reads as 0.
 * Returns 0, or -1 when the file cannot be opened (buf untouched). */
QUARNK_API int32_t Opencsvk(const char* name, int32_t width, int32_t height, double* buf);

/* Writes buf as a raw image file, one byte per pixel, replacing an old file only once the new
 * one is complete. Returns 0, or -1 when the file cannot be written. */
QUARNK_API int32_t Savek(const char* name, int32_t width, int32_t height, const double* buf);

/* Writes buf as a CSV image file: one line per row, values as truncated decimal integers joined
 * by ",", every line ended by CR LF. Returns 0, or -1 when the file cannot be written. */
QUARNK_API int32_t Savecsvk(const char* name, int32_t width, int32_t height, const double* buf);

/* Writes the rectangle x0 <= x < x1, y0 <= y < y1 of an image whose rows are `width` long as a
 * raw image file of (x1 - x0) * (y1 - y0) bytes; an empty rectangle gives an empty file.
 * The caller keeps y1 within the image. Returns 0, or -1 when the file cannot be written or
 * the rectangle reaches left of, right of or above the image. */
QUARNK_API int32_t Savertk(const char* name, int32_t width, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                           const double* buf);

/* ---- Point operations (in place; all return 0) ------------------------------------------- */

/* Over-value correction: maps the minimum..maximum of the image linearly onto 0..255.
 * An image whose values are all equal is left as it is. */
QUARNK_API int32_t Rofk(int32_t width, int32_t height, double* buf);

/* Contrast window: v = (v - low) * 255 / (high - low), then clamped to 0..255 (not-a-number
 * becomes 0). With high == low, values above low become 255 and all others 0. */
QUARNK_API int32_t Conk(int32_t low, int32_t high, int32_t width, int32_t height, double* buf);

/* Binarization: 255 where v > threshold, else 0. */
QUARNK_API int32_t Segmk(int32_t threshold, int32_t width, int32_t height, double* buf);

/* Gradation inversion: v = 127.5 - v + 127.5, truncated toward zero. */
QUARNK_API int32_t Rdk(int32_t width, int32_t height, double* buf);

/* Difference: a = a - b element by element, then the full-range stretch of a. b is unchanged. */
QUARNK_API int32_t Dpk(int32_t width, int32_t height, double* a, const double* b);

/* ---- Neighbourhood filters (in place; all return 0) -------------------------------------- */

/* Recursive 3 x 3 median in raster order: each window sees the medians already written to its
 * left and upper neighbours. Values are truncated toward zero; the border keeps its values.
 * Images narrower or lower than 3 pixels are left unchanged. */
QUARNK_API int32_t Medk(int32_t width, int32_t height, double* buf);

/* Forward-difference gradient |v(x,y+1) - v(x,y)| + |v(x+1,y) - v(x,y)| (each difference
 * truncated), cut at 255 when flag is 0, then the full-range stretch of the whole image. The last
 * row and column keep their grey values before the stretch. */
QUARNK_API int32_t Edgek(int32_t flag, int32_t width, int32_t height, double* buf);

/* Dust removal: the 3 x 3 interior of every 5 x 5 block whose one-pixel frame is all exactly 255
 * becomes 255, blocks visited in raster order with corners up to (width - 6, height - 6). */
QUARNK_API int32_t Dmk(int32_t width, int32_t height, double* buf);

/* ---- Axis flip and composite -------------------------------------------------------------- */

/* Mirrors the image: mode 0 left-right, mode 1 top-bottom, through scratch (width * height
 * elements, overwritten). Returns 0, or -1 for any other mode (neither buffer touched). */
QUARNK_API int32_t Turnk(int32_t mode, int32_t width, int32_t height, double* buf, double* scratch);

/* Composite: a becomes 0 wherever b is exactly 0. b is unchanged. Returns 0. */
QUARNK_API int32_t Compok(int32_t width, int32_t height, double* a, const double* b);

/* ---- Hough accumulation --------------------------------------------------------------------- */

/* Strongest straight line through the black (exactly 0) pixels of x0 <= x < x1, y0 <= y < y1.
 *
 * Every black pixel votes, for theta = 0, step, 2 step, ... <= 180 degrees (theta accumulated by
 * repeated addition), in the cell of rho index r = x cos(theta) + y sin(theta) + 750 and angle
 * index a = theta / step, both truncated toward zero. acc is the caller's accumulator: the cell
 * (r, a) is element r * 1501 + a, elements 0 .. 2,253,300 are cleared and nothing beyond them is
 * touched. Votes whose rho index falls outside 0..1500 are skipped.
 *
 * The chosen cell is the one with the most votes strictly below *vote_bound, scanning rho index
 * 1..1500 then angle index 1..180/step, so equal cells resolve to the lowest rho, then angle.
 * On return *vote_bound holds its votes and the line is y = *slope * x + *intercept; an angle of
 * exactly 0 is taken as 0.001 radians. `width` is the image's row length; the caller keeps the
 * region within the image.
 *
 * Returns 0, or -1 without voting when step is below 0.12 degrees or not a number. */
QUARNK_API int32_t Hcck(int32_t width, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t* vote_bound,
                        double step, double* slope, double* intercept, const double* image, double* acc);

#ifdef __cplusplus
}
#endif

#endif
