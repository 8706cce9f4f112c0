/* vortigo.h: what an animation script sees of the studio.

   Include it with  #include <vortigo.h>  (the studio adds this folder to the
   script's include path). Every entry point is optional: define the ones
   you need. A script written with plain word numbers keeps working: the
   names below are those numbers. */
#ifndef VORTIGO_H
#define VORTIGO_H

/* ---- Entry points the studio calls ----------------------------------- */

/* Once after every successful compile. Keep the pointers: they stay valid
   while the studio runs. */
void udSetup(void* traceWindow, float* udef, float* animInfo, int* frameInfo, char* debugLine);
/* Before the next compile replaces the script, and when the studio ends. */
void udShutdown(void);
/* Before each layer pass: the layer's background pixels (blue, green, red,
   unused; null without a background) and the flight ring of 12-float
   records. */
void udPre(unsigned char* background, float* flight);
/* After each layer pass. */
void udPost(void);
/* Once for every finished frame: width x height pixels of blue, green, red,
   bottom row first. Runs on another thread than the others. A still drawn
   with 16 bits a channel lends an 8-bit copy: each byte changed here
   replaces its 16-bit sample, the others keep their depth. */
void udPostFrame(unsigned char* pixels);
/* After the frame buffers changed size. */
void udResize(void);

/* ---- Functions the studio lends the script ---------------------------- */

/* Each returns 0 when it did its work and -1 when it did nothing. All four
   need the studio's OpenGL context, which only the drawing thread has: they
   return -1 when called from udPostFrame, or from udShutdown when the studio
   ends (udShutdown before a new compile has the context). A pointer they
   take is read as it stands: a bad one, or a buffer shorter than the sizes
   given, is a fault of the entry point that called them, not a -1. */

/* Selects a texture unit: 0x84C0 + n for unit n. The unit is passed to
   OpenGL unchecked. -1 without the context or when the driver has no
   glActiveTexture. */
int SetActiveTex(int textureUnit);
/* Data texture on unit 1: one-dimensional when height is 1 or less.
   components 3 RGB, 4 RGBA, else red only; isFloat picks floats over bytes;
   filter 2 nearest, else linear. -1 without the context, when data is null,
   width is 0 or less, the driver has no glActiveTexture, width or height is
   larger than the driver's largest texture (GL_MAX_TEXTURE_SIZE), or the
   texels (width x height x bytes per texel) take more than 256 MB. Nothing
   is read from data then. */
int SetupDataTex(const void* data, int width, int height, int components, int isFloat, int filter);
/* Volume texture on unit 2. -1 without the context, when data is null,
   width, height or depth is 0 or less, the driver has no glActiveTexture or
   glTexImage3DEXT, a side is larger than the driver's largest volume
   (GL_MAX_3D_TEXTURE_SIZE), or the texels take more than 256 MB. */
int SetupVolTex(const void* data, int width, int height, int depth, int components, int isFloat,
                int filter);
/* Loads a new background (JPG, TGA, BMP or AVI) for layer 0 to 3; shown
   when the layer is next drawn. -1 without the context, when fileName is
   null or 260 bytes or longer (nothing is cut), or when layer is not 0 to 3.
   Otherwise 0, also when the file does not load; a fault inside the loader
   writes "SwitchBackground caused an exception." to the debug output and
   also returns 0. */
int SwitchBackground(const char* fileName, int layer);
/* Named shader parameters: the uniforms that layer 0 to 3's shaders
   annotate with "// @param". GetParam copies the parameter's components
   (1 for float, int and bool, 2 to 4 for vec2 to vec4 and colours) into
   values and returns how many; SetParam takes as many from values, fits
   them to the parameter's range (whole numbers for int and bool), shows
   them from the next layer drawn on and returns how many it took. Both
   return -1, reading and writing nothing, for a layer outside 0 to 3, a
   null name or values, or a name the layer's built shaders do not declare
   (the shaders are built after the script: a first udSetup finds none). */
int GetParam(int layer, const char* name, float* values);
int SetParam(int layer, const char* name, const float* values);

/* ---- FrameInfo: int words, frameInfo[FI_...] ------------------------------ */

#define FI_IMAGE_WIDTH 0     /* frame width (read only) */
#define FI_IMAGE_HEIGHT 1    /* frame height (read only) */
#define FI_FLIGHT_START 2    /* float index of the oldest flight record */
#define FI_FLIGHT_HEAD 3     /* float index of the current record */
#define FI_FLIGHT_END 4      /* float index past the newest record */
#define FI_LAYER 5           /* layer being drawn, 1 to 4 */
#define FI_PASS 6            /* 0 normal pass, 1 super-sampling pass */
#define FI_AVI_FPS 7         /* frames per second of video output (read only) */
#define FI_BG_UPDATE 8       /* request: upload the background; 1 linear, 2 nearest, 3 mipmaps */
#define FI_LAYER_SKIP 9      /* request: layers to pass over after this one (-1 repeats) */
#define FI_BG_WIDTH 10       /* background width of this layer */
#define FI_BG_HEIGHT 11      /* background height of this layer */
#define FI_VIDEO_HOLD 12     /* request: rendered frames per video frame */
#define FI_DATA_TEX_WIDTH 14 /* texel count of the data texture request */
#define FI_VOL_TEX_WIDTH 16  /* size of the volume texture request */
#define FI_VOL_TEX_HEIGHT 17
#define FI_VOL_TEX_DEPTH 18
#define FI_LAYER_FLAGS 19              /* request bits, LAYER_FLAG_... */
#define FI_VIDEO_FRAME(n) (20 + (n))   /* video frame counter of layer n, 0 to 3 */
#define FI_LAYER_TEXTURE(n) (24 + (n)) /* GL texture of layer n's background (read only) */
#define FI_CAPTURING 28                /* non-zero while capturing (read only) */
/* A poster is drawn in tiles, each an ordinary frame: FI_IMAGE_WIDTH and
   FI_IMAGE_HEIGHT then hold the whole picture's size, and these words the
   frame being drawn (its tile and a margin for the filters). All three are 0
   for a whole frame. The shaders see the same through "uniform vec4 tile;"
   (centre and size of the frame in the picture's -1..1 coordinates) and
   "uniform ivec2 tileOffset;" (FI_TILE_X, FI_TILE_Y). */
#define FI_TILE_X 29    /* left edge of the frame in the picture, pixels (read only) */
#define FI_TILE_Y 30    /* bottom edge of the frame, pixels from the picture's bottom */
#define FI_TILE_SIZE 31 /* frame width | height << 16 (read only) */
#define FI_TILE_WIDTH(frameInfo) ((frameInfo)[FI_TILE_SIZE] & 0xFFFF)
#define FI_TILE_HEIGHT(frameInfo) (((frameInfo)[FI_TILE_SIZE] >> 16) & 0xFFFF)
#define FI_KEY_DOWN(key) (key) /* 1 while virtual key 32 to 255 is held: 'A', ' ', ... */

#define LAYER_FLAG_NO_RECTANGLE 1 /* draw the layer yourself; its program stays current */
#define LAYER_FLAG_NO_1D 2        /* switch one-dimensional texturing off */
#define LAYER_FLAG_NO_3D 4        /* switch three-dimensional texturing off */
#define LAYER_FLAG_OFFSCREEN 8    /* draw into the off-screen float target */

/* The two pointer requests live after the 256 words: set them with these. */
#define FI_DATA_TEX(frameInfo) (*(void**)((char*)(frameInfo) + 1024))
#define FI_VOL_TEX(frameInfo) (*(void**)((char*)(frameInfo) + 1032))

/* ---- AnimInfo: float words, animInfo[AI_...] ---------------------------- */

#define AI_TIME 0  /* animation time; the script may change it */
#define AI_SPEED 1 /* time step per frame */
#define AI_DOF_SCALE 2
#define AI_DOF_OFFSET 3
#define AI_MAX_DEPTH 4
#define AI_CAMERA_X 8 /* camera snapshot: write in udPre to move the camera */
#define AI_CAMERA_Y 9
#define AI_CAMERA_Z 10
#define AI_CAMERA_QX 11 /* orientation quaternion x, y, z, w */
#define AI_CAMERA_QY 12
#define AI_CAMERA_QZ 13
#define AI_CAMERA_QW 14

/* ---- Flight records: flight[index + FR_...] ------------------------------ */

#define FR_X 0
#define FR_Y 1
#define FR_Z 2
#define FR_TIME 3
#define FR_QX 4
#define FR_QY 5
#define FR_QZ 6
#define FR_QW 7
#define FR_UDEF(n) (8 + (n)) /* udef[0] to udef[3] */
#define FR_SIZE 12

#define DEBUG_LINE_SIZE 260 /* the debug line holds 259 characters and a zero */

#endif
