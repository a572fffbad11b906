"""Objects the manager owns, once the manager destroyed them; captures of a
given duration; the end of the interpreter during a capture."""

import os
import subprocess
import sys
import textwrap
import time

import pytest

import xevlibrary as xev


def test_objects_of_a_destroyed_manager_are_refused_not_used(usb):
    device, _ = usb
    manager = xev.Manager.instance()
    descriptor = manager.descriptors()[0]
    frames = device.frames()
    next(frames)
    xev.Manager.destroy()  # closes the open iteration first
    with pytest.raises(StopIteration):
        next(frames)
    for use in (lambda: device.get("Exposure Time"), lambda: device.is_capturing,
                lambda: device.frames(1), lambda: device.observe(print),
                lambda: descriptor.model_id, lambda: manager.device_count,
                lambda: xev.toolbox.InterpolatedNuc(device, "/nonexistent")):
        with pytest.raises(xev.XEVException, match=r"^Error : This \w+( \w+)? is gone"):
            use()
    # A new manager, and what it hands out, work.
    again = xev.Manager.instance().open(0)
    assert again.width == 640 and len(list(again.frames(2))) == 2


def test_enumerate_and_flush_end_the_devices_but_flush_keeps_the_descriptors(usb):
    device, _ = usb
    manager = xev.Manager.instance()
    descriptor = manager.descriptors()[0]
    with device.observe(lambda frame, info: None):
        device.start()
        manager.flush_devices()  # the capture is stopped and the observer closed first
        assert descriptor.model_id == "Kestrel"
        with pytest.raises(xev.XEVException, match="device is gone"):
            device.start()
    device = manager.open(0)
    manager.enumerate()
    for use in (lambda: device.width, lambda: descriptor.serial_number):
        with pytest.raises(xev.XEVException, match="is gone"):
            use()
    assert manager.device_count == 1 and manager.open(0).model_id == "Kestrel"


def test_a_callback_cannot_destroy_its_own_device(usb):
    device, _ = usb

    def callback(frame, info):
        xev.Manager.destroy()

    with device.observe(callback):
        device.capture_n_frames(5)
        with pytest.raises(xev.XEVException,
                           match=r"destroyInstance\(\) cannot destroy XEVDevice\(Kestrel\) "
                                 r"from one of its own threads"):
            device.wait_end_capture(5000)
    assert device.width == 640  # still there


def test_capture_for_a_duration(usb):
    device, camera = usb
    camera.set_fastest(False)  # frames at the camera's rate
    device.fps = 100.0
    numbers = []
    with device.observe(lambda frame, info: numbers.append(info.frame_number)):
        start = time.monotonic()
        device.capture_for_duration(300)
        # Ends on its own, well before the wait's limit, after the frames
        # of 300 ms at 100 frames per second.
        assert device.wait_end_capture(5000)
        assert time.monotonic() - start >= 0.25
        assert not device.is_capturing
    # The capture counts the frames of 300 ms: 30. A slow observer misses
    # some (the FIFO drops them), but never sees more.
    assert 0 < len(numbers) <= 30
    assert numbers == sorted(set(numbers))


def test_the_interpreter_ends_during_a_capture():
    # A script that leaves a callback running and an iteration open; the
    # module's exit handler stops them before the interpreter goes.
    script = textwrap.dedent("""
        import xevlibrary as xev
        bus = xev.UsbEmulatedBus()
        bus.plug("Kestrel").set_fastest(True)
        device = xev.Manager.instance().open(0)
        seen = []
        observer = device.observe(lambda frame, info: seen.append(info.frame_number))
        frames = device.frames()
        next(frames)
        print("capturing", flush=True)
        """)
    env = dict(os.environ, XEV_LOG="quiet")
    done = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True,
                          text=True, timeout=30)
    assert done.returncode == 0, done.stderr
    assert done.stdout == "capturing\n"


def test_stopping_the_device_ends_an_iteration_nobody_reads():
    # The iterator's queue is full and its reading thread waits for room:
    # the device's own stop() still ends the capture.
    script = textwrap.dedent("""
        import time
        import xevlibrary as xev
        bus = xev.UsbEmulatedBus()
        camera = bus.plug("Kestrel")
        camera.set_fastest(True)
        device = xev.Manager.instance().open(0)
        frames = device.frames(queue_size=2)
        next(frames)
        delivered = camera.delivered_frames
        deadline = time.monotonic() + 10
        while camera.delivered_frames < delivered + 20 and time.monotonic() < deadline:
            time.sleep(0.01)
        device.stop()
        left = sum(1 for _ in frames)
        print("stopped", device.is_capturing, left, flush=True)
        xev.Manager.destroy()
        """)
    env = dict(os.environ, XEV_LOG="quiet")
    done = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True,
                          text=True, timeout=30)
    assert done.returncode == 0, done.stderr
    # The two frames the queue held, then the end of the iteration.
    assert done.stdout == "stopped False 2\n"
