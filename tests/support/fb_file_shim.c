// Preloaded into the program (LD_PRELOAD), lets a regular file stand for the
// device's framebuffer, so the program runs on the display platform the
// device's loader starts it with ("-platform linuxfb:fb=<file>:..."). The
// file must hold one frame of the device's LCD: 800x480 pixels of 32 bits.
//
// Only a framebuffer request that the kernel refused with ENOTTY on a
// regular file is answered here; every other request, and every request on
// any other descriptor, is the kernel's.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <linux/fb.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

enum { kWidth = 800, kHeight = 480, kBytesPerPixel = 4, kFrameBytes = kWidth * kHeight * kBytesPerPixel };

typedef int (*IoctlFn)(int, unsigned long, ...);
static IoctlFn g_next;

// Resolved when the library is loaded, before any thread of the program can
// ask, so no two threads race for it.
__attribute__((constructor)) static void findNext(void) { g_next = (IoctlFn)dlsym(RTLD_NEXT, "ioctl"); }

static void screenMode(struct fb_var_screeninfo* v) {
    memset(v, 0, sizeof *v);
    v->xres = v->xres_virtual = kWidth;
    v->yres = v->yres_virtual = kHeight;
    v->bits_per_pixel = 8 * kBytesPerPixel;
    // 0xAARRGGBB, as a 32-bit LCD controller lays its pixels out.
    v->transp.offset = 24;
    v->transp.length = 8;
    v->red.offset = 16;
    v->red.length = 8;
    v->green.offset = 8;
    v->green.length = 8;
    v->blue.length = 8;
    // The device's 7-inch panel.
    v->width = 154;
    v->height = 86;
    v->activate = FB_ACTIVATE_NOW;
}

static void fixedInfo(struct fb_fix_screeninfo* f) {
    memset(f, 0, sizeof *f);
    strncpy(f->id, "file-fb", sizeof f->id - 1);
    f->smem_len = kFrameBytes;
    f->type = FB_TYPE_PACKED_PIXELS;
    f->visual = FB_VISUAL_TRUECOLOR;
    f->line_length = kWidth * kBytesPerPixel;
}

static int answer(unsigned long request, void* arg) {
    switch (request) {
    case FBIOGET_VSCREENINFO:
    case FBIOPUT_VSCREENINFO:  // the one mode there is, as a driver adjusts a request to
        if (!arg) break;
        screenMode(arg);
        return 0;
    case FBIOGET_FSCREENINFO:
        if (!arg) break;
        fixedInfo(arg);
        return 0;
    // Blanking takes its level as the argument itself, 0 for "unblank".
    case FBIOBLANK:
    case FBIOPAN_DISPLAY:
    case FBIO_WAITFORVSYNC:
    case FBIOGETCMAP:
    case FBIOPUTCMAP:
        return 0;
    default:
        break;
    }
    errno = ENOTTY;
    return -1;
}

int ioctl(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    if (!g_next) {
        errno = ENOSYS;
        return -1;
    }
    const int result = g_next(fd, request, arg);
    if (result != -1 || errno != ENOTTY) return result;
    struct stat st;
    // A file too short for a frame would fault where the program draws past
    // its end: it is no framebuffer.
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < kFrameBytes) {
        errno = ENOTTY;
        return -1;
    }
    return answer(request, arg);
}
