/*
 * A helper of the OBS Studio tracking step, on the X display of $DISPLAY:
 *   x-screen ramps      covers the screen with a window above all others whose
 *                       pixels tell where they are (red = x, green = y, each
 *                       0 to 255 over the screen), prints "ready" and keeps
 *                       it until killed
 *   x-screen move X Y   moves the pointer to the pixel X, Y (XTest)
 */
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static unsigned long ramp(int v, int size)
{
	return (unsigned long)((255.0 * v) / (size - 1) + 0.5);
}

static int ramps(Display *d)
{
	const int s = DefaultScreen(d);
	const int w = DisplayWidth(d, s);
	const int h = DisplayHeight(d, s);
	XSetWindowAttributes a;
	memset(&a, 0, sizeof(a));
	a.override_redirect = True;
	Window win = XCreateWindow(d, RootWindow(d, s), 0, 0, w, h, 0,
				   CopyFromParent, InputOutput, CopyFromParent,
				   CWOverrideRedirect, &a);
	Pixmap pixmap = XCreatePixmap(d, win, w, h, DefaultDepth(d, s));
	XImage *image = XCreateImage(d, DefaultVisual(d, s), DefaultDepth(d, s),
				     ZPixmap, 0, NULL, w, h, 32, 0);
	image->data = calloc((size_t)image->bytes_per_line, h);
	if (!image->data)
		return 1;
	for (int y = 0; y < h; y++)
		for (int x = 0; x < w; x++)
			XPutPixel(image, x, y,
				  ramp(x, w) << 16 | ramp(y, h) << 8);
	GC gc = XCreateGC(d, pixmap, 0, NULL);
	XPutImage(d, pixmap, gc, image, 0, 0, 0, 0, w, h);
	XSetWindowBackgroundPixmap(d, win, pixmap);
	XMapRaised(d, win);
	XClearWindow(d, win);
	XSync(d, False);
	printf("ready\n");
	fflush(stdout);
	for (;;) { /* stays above windows mapped later */
		usleep(200000);
		XRaiseWindow(d, win);
		XSync(d, False);
	}
}

int main(int argc, char **argv)
{
	Display *d = XOpenDisplay(NULL);
	if (!d) {
		fprintf(stderr, "x-screen: no X display\n");
		return 1;
	}
	if (argc == 2 && strcmp(argv[1], "ramps") == 0)
		return ramps(d);
	if (argc == 4 && strcmp(argv[1], "move") == 0) {
		XTestFakeMotionEvent(d, -1, atoi(argv[2]), atoi(argv[3]), 0);
		XSync(d, False);
		XCloseDisplay(d);
		return 0;
	}
	fprintf(stderr, "usage: x-screen ramps | x-screen move X Y\n");
	return 2;
}
