"""Per-frame cost of a Python capture of 640x512 16-bit frames against the
same capture into a C++ observer, in the same run, from an emulated camera
that gives each frame at once.

    PYTHONPATH=build/default/python/module python3 python/bench_capture.py [frames]
"""

import sys
import time

import xevlibrary as xev


def main():
    frames = int(sys.argv[1]) if len(sys.argv) > 1 else 2000
    bus = xev.UsbEmulatedBus()
    camera = bus.plug("Kestrel")
    camera.set_fastest(True)
    device = xev.Manager.instance().open(0, 0, 16)
    assert (device.width, device.height) == (640, 512)
    try:
        for _ in device.frames(50):  # warm-up
            pass
        cpp_frames, cpp_seconds = xev.bench.capture_in_cpp(device, frames)

        py_frames = 0
        start = time.perf_counter()
        for frame, info in device.frames(frames, queue_size=16):
            py_frames += 1
        py_seconds = time.perf_counter() - start
    finally:
        xev.Manager.destroy()
    cpp_us = cpp_seconds / cpp_frames * 1e6
    py_us = py_seconds / py_frames * 1e6
    print("C++    : %d frames, %.1f us per frame" % (cpp_frames, cpp_us))
    print("Python : %d frames, %.1f us per frame" % (py_frames, py_us))
    print("ratio  : %.2f" % (py_us / cpp_us))


if __name__ == "__main__":
    main()
