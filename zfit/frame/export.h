/* Symbol visibility and C linkage for the public headers.
 *
 * Both shared libraries are built with hidden visibility; only declarations
 * marked ZFIT_API are exported (and libzfit.so further restricts its exports
 * with the linker version script in zfit/exports/). */
#ifndef ZFIT_FRAME_EXPORT_H
#define ZFIT_FRAME_EXPORT_H

#if defined(__GNUC__) || defined(__clang__)
#define ZFIT_API __attribute__((visibility("default")))
#else
#define ZFIT_API
#endif

#ifdef __cplusplus
#define ZFIT_EXTERN_C_BEGIN extern "C" {
#define ZFIT_EXTERN_C_END }
#else
#define ZFIT_EXTERN_C_BEGIN
#define ZFIT_EXTERN_C_END
#endif

#endif
