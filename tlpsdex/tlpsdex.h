/* The PSD library's C interface. One input and one output document are
 * open at a time per thread; calls take no handle. */
#ifndef TLPSDEX_H
#define TLPSDEX_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A rectangle in canvas pixels and a layer's record (112 bytes). */
typedef struct TlPsdRect {
    int32_t left, top, right, bottom;
} TlPsdRect;

typedef struct TlPsdLayerInfo {
    int32_t index;     /* -1 merged image, 0..count-1 layer, bottom layer first */
    int32_t section;   /* TLPSD_SECTION_*: a picture layer, or a group's start or end */
    TlPsdRect rect;    /* canvas pixels */
    char name[68];     /* UTF-8, zero-terminated, cut at a character boundary */
    int32_t visible;   /* 1 shown; 0 hidden (itself or an enclosing group); with
                          group records, 2 when shown itself inside a hidden group
                          (written as shown) */
    char blendMode[8]; /* four-letter key, zero-terminated */
    int32_t opacity;   /* 0..255 */
    int32_t reserved2; /* 255 */
} TlPsdLayerInfo;

/* Record kinds, the file's section-divider types. Any value other than
 * 1, 2 and 3 is a picture layer. A group is its start record above the
 * records inside it and its end record below them (bottom first: end,
 * contents, start). */
#define TLPSD_SECTION_LAYER (-1)
#define TLPSD_SECTION_OPEN_GROUP 1   /* group start, shown expanded */
#define TLPSD_SECTION_CLOSED_GROUP 2 /* group start, shown collapsed */
#define TLPSD_SECTION_GROUP_END 3
#define TLPSD_MAX_GROUP_DEPTH 64

/* Open modes. */
#define TLPSD_LOAD_BGRA8 2000 /* deliver pixels as 8-bit blue, green, red, alpha */
#define TLPSD_SAVE_RGB8 1000  /* write an 8-bit RGB document, format version 1 */

/* Load options: null, or a pointer to one int32 of flags. By default groups
 * are flattened away: only picture layers are delivered, hidden when an
 * enclosing group is. TLPSD_LOAD_GROUP_RECORDS delivers the groups' start
 * and end records too, balanced (stray ends dropped, missing ends added at
 * the bottom); groups nested deeper than TLPSD_MAX_GROUP_DEPTH are left out
 * and their hiding passed on to the layers inside. */
#define TLPSD_LOAD_GROUP_RECORDS 1

/* Save options: seven int32 values.
 * [1] flags: bit 15 marks the flags as valid, bit 0 writes Unicode names;
 * [3] channel compression: 0 raw, 1 run-length;
 * [5] merged transparency: 0 none, 2 first alpha channel, colours matted on white;
 * the others are reserved and must be 0. A null pointer means the defaults:
 * Unicode names, run-length channels, merged transparency matted on white. */
#define TLPSD_SAVE_OPTION_COUNT 7
static const int32_t TLPSD_SAVE_OPTION_DEFAULTS[TLPSD_SAVE_OPTION_COUNT] = {0, 32769, 0, 1,
                                                                            0, 2,     0};

/* Result codes (0 success). */
enum {
    TLPSD_OK = 0,
    TLPSD_E_OPEN = 1,          /* file cannot be opened or created */
    TLPSD_E_READ = 2,          /* read or write failure, file truncated */
    TLPSD_E_SIGNATURE = 3,     /* not a PSD file */
    TLPSD_E_VERSION = 4,       /* unknown format version */
    TLPSD_E_COLOUR_MODE = 5,   /* not RGB or greyscale */
    TLPSD_E_DEPTH = 6,         /* not 8 or 16 bits per channel */
    TLPSD_E_TOO_LARGE = 7,     /* canvas above 30000 x 30000 or layer too large */
    TLPSD_E_TOO_MANY = 8,      /* more than 10000 layers or too many channels */
    TLPSD_E_CORRUPT = 9,       /* lengths, counts or offsets inconsistent */
    TLPSD_E_MEMORY = 10,       /* allocation failed */
    TLPSD_E_ARGUMENT = 11,     /* bad argument (index, buffer size, rectangle, mode) */
    TLPSD_E_NOT_OPEN = 12,     /* no document open on this thread */
    TLPSD_E_DECODE = 13,       /* compressed channel data broken */
    TLPSD_E_COMPRESSION = 14,  /* unknown channel compression */
    TLPSD_E_ALREADY_OPEN = 15, /* a document is already open on this thread */
};

#define TLPSD_MAX_SIDE 30000
#define TLPSD_MAX_LAYERS 10000

int32_t TlPsd_GetVersion(void);
/* Clips a layer's pixels (rect-sized, packed) to the canvas; the kept pixels
 * move to the start of the buffer and rect becomes the kept part. */
int32_t TlPsd_UnderScan(void* pixels, TlPsdRect* layerRect, const TlPsdRect* canvasRect);
/* Crops to the bounding box of the pixels with alpha above 0; empty leaves
 * a rectangle of zero width and height. */
int32_t TlPsd_Minimize(void* pixels, TlPsdRect* layerRect);

int32_t TlPsdLoad_Open(const char* path, int32_t mode, const void* options);
int32_t TlPsdLoad_Close(void);
int32_t TlPsdLoad_GetLayerCount(void);
int32_t TlPsdLoad_GetImageInfo(TlPsdLayerInfo* info);
/* Fills bufferBytes >= 4 * width * height of rect with the picture's pixels
 * at rect (canvas coordinates); parts the picture does not cover get 0. */
int32_t TlPsdLoad_GetImage(int32_t index, void* buffer, size_t bufferBytes, const TlPsdRect* rect);

int32_t TlPsdSave_Open(const char* path, int32_t mode, const int32_t* options);
/* Writes the file (beside the target, then renamed over it) and ends the output.
 * On TLPSD_E_READ errno holds the error of the failing write, fsync, close or
 * rename (e.g. ENOSPC), to be read right after the call. */
int32_t TlPsdSave_Close(void);
int32_t TlPsdSave_SetImage(const void* pixels, int32_t right, int32_t bottom);
/* Group records are passed like layers, in the same bottom-first order; the
 * file is refused (TLPSD_E_ARGUMENT) at close when they do not balance or
 * nest deeper than TLPSD_MAX_GROUP_DEPTH. */
int32_t TlPsdSave_SetLayer(const void* pixels, const TlPsdLayerInfo* info);

/* Extras beyond the twelve: open a document held in memory (the bytes must
 * stay alive until TlPsdLoad_Close), and a text for a result code. */
int32_t TlPsdLoad_OpenMemory(const void* data, size_t size, int32_t mode);
const char* TlPsd_ErrorText(int32_t code);

#ifdef __cplusplus
}
#endif

#endif
