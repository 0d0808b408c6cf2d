#!/usr/bin/python3
"""Face detectors compared on real photos, as the module would run them.

The module's detector (dlib's HOG frontal face detector, compiled into the
module; loaded from tavimore-face-probe.so) against OpenCV's Haar cascade
and LBP cascade, each on one thread, on the same pictures:
  - hit rate: scikit-image's LFW subset, 100 faces of 25x25 pixels, each
    enlarged to 100x100 (bicubic) on a 200x200 canvas;
  - false detections: the LFW subset's 100 pictures without a face treated
    the same way, and 19 of scikit-image's photos without a face (coffee,
    a cat, a rocket ...) at 320 pixels wide;
  - the astronaut photo (one face, and a round mission badge);
  - CPU time per detection at the sizes the module draws (220x220 around a
    followed face, 640x360 for a whole-frame search) and at 960x540 (half
    of 1920x1080, what a filter that searches every frame at half size
    runs), on a 1920x1080 frame with the astronaut's head 768 pixels tall.
Needs python3-opencv, opencv-data and python3-skimage (Debian), and the
benchmarks built:
  bench/face-detectors.py build/test/bench/tavimore-face-probe.so
"""
import ctypes
import sys
import time

import cv2
import numpy as np

DATA = '/usr/lib/python3/dist-packages/skimage/data/'
CASCADES = '/usr/share/opencv4/'
NO_FACE = ['coffee.png', 'chelsea.png', 'rocket.jpg', 'motorcycle_left.png',
           'hubble_deep_field.jpg', 'brick.png', 'grass.png', 'gravel.png',
           'page.png', 'text.png', 'retina.jpg', 'horse.png', 'coins.png',
           'moon.png', 'ihc.png', 'logo.png', 'color.png', 'cell.png',
           'clock_motion.png']


def module_detector(probe):
    lib = ctypes.CDLL(probe)
    boxes = (ctypes.c_double * 320)()

    def detect(grey):
        rgba = np.ascontiguousarray(cv2.cvtColor(grey, cv2.COLOR_GRAY2RGBA))
        h, w = grey.shape
        n = lib.tavimore_face_detect(rgba.ctypes.data_as(ctypes.c_void_p),
                                     w, h, boxes, 64)
        return [tuple(boxes[i * 5:i * 5 + 4]) for i in range(n)]
    return detect


def cascade(name):
    c = cv2.CascadeClassifier(CASCADES + name)
    assert not c.empty(), name

    def detect(grey):
        return [tuple(r) for r in c.detectMultiScale(
            grey, scaleFactor=1.2, minNeighbors=3, minSize=(40, 40))]
    return detect


def enlarged(small):
    face = cv2.resize((small * 255).astype(np.uint8), (100, 100),
                      interpolation=cv2.INTER_CUBIC)
    canvas = np.full((200, 200), int(face.mean()), np.uint8)
    canvas[50:150, 50:150] = face
    return canvas


def cpu_ms(detect, grey, seconds=1.0):
    start = time.process_time()
    n = 0
    while time.process_time() - start < seconds:
        detect(grey)
        n += 1
    return (time.process_time() - start) / n * 1e3


def main():
    cv2.setNumThreads(1)
    detectors = [('dlib HOG (the module)', module_detector(sys.argv[1])),
                 ('OpenCV Haar (default)',
                  cascade('haarcascades/haarcascade_frontalface_default.xml')),
                 ('OpenCV LBP (improved)',
                  cascade('lbpcascades/lbpcascade_frontalface_improved.xml'))]
    lfw = np.load(DATA + 'lfw_subset.npy')
    faces = [enlarged(lfw[i]) for i in range(100)]
    others = [enlarged(lfw[i]) for i in range(100, 200)]
    photos = []
    for name in NO_FACE:
        g = cv2.imread(DATA + name, cv2.IMREAD_GRAYSCALE)
        s = 320 / g.shape[1]
        photos.append(cv2.resize(g, None, fx=s, fy=s,
                                 interpolation=cv2.INTER_AREA))
    astronaut = cv2.imread(DATA + 'astronaut.png', cv2.IMREAD_GRAYSCALE)
    frame = np.full((1080, 1920), 90, np.uint8)
    frame[156:924, 576:1344] = cv2.resize(astronaut[0:256, 95:351],
                                          (768, 768))
    sizes = [('220x220', cv2.resize(frame[230:890, 630:1290], (220, 220))),
             ('640x360', cv2.resize(frame, (640, 360))),
             ('960x540', cv2.resize(frame, (960, 540)))]

    print('%-22s %9s %10s %10s %10s %s' % (
        'detector', 'LFW hits', 'LFW false', 'photos', 'astronaut',
        '  ms a detection at ' + ', '.join(s for s, _ in sizes)))
    for name, detect in detectors:
        hits = sum(1 for g in faces if detect(g))
        false_lfw = sum(len(detect(g)) for g in others)
        false_photos = sum(len(detect(g)) for g in photos)
        on_astronaut = len(detect(astronaut))
        found = [len(detect(g)) for _, g in sizes]
        times = [cpu_ms(detect, g) for _, g in sizes]
        print('%-22s %6d/100 %6d/100 %7d/%d %10d   %s (faces found: %s)' % (
            name, hits, false_lfw, false_photos, len(photos), on_astronaut,
            ', '.join('%.1f' % t for t in times),
            ', '.join(str(f) for f in found)))


if __name__ == '__main__':
    main()
