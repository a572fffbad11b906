"""Per-frame cost of a Python capture of 640x512 16-bit frames against the
same capture into a C++ observer, in the same run, from an emulated camera
that gives each frame at once.

Both captures copy each frame once. The wall time per frame is bounded by the
emulated camera; the processor time per frame (of the whole process: camera,
library and consumer) shows what the Python side adds.

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
        cpp_frames, cpp_seconds, cpp_cpu = xev.bench.capture_in_cpp(device, frames)

        py_frames = 0
        start, cpu_start = time.perf_counter(), time.process_time()
        for frame, info in device.frames(frames, queue_size=16):
            py_frames += 1
        py_seconds = time.perf_counter() - start
        py_cpu = time.process_time() - cpu_start
    finally:
        xev.Manager.destroy()

    def per_frame(seconds, count):
        return seconds / count * 1e6

    print("            frames  wall us/frame  cpu us/frame")
    print("C++      %9d %14.1f %13.1f" % (cpp_frames, per_frame(cpp_seconds, cpp_frames),
                                          per_frame(cpp_cpu, cpp_frames)))
    print("Python   %9d %14.1f %13.1f" % (py_frames, per_frame(py_seconds, py_frames),
                                          per_frame(py_cpu, py_frames)))
    print("ratio    %9s %14.2f %13.2f" % ("", (py_seconds / py_frames) / (cpp_seconds / cpp_frames),
                                          (py_cpu / py_frames) / (cpp_cpu / cpp_frames)))


if __name__ == "__main__":
    main()
