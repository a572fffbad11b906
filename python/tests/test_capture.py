"""Captures from emulated cameras into numpy, callbacks, interruption and
reference counts."""

import gc
import os
import sys
import threading
import time

import numpy as np
import pytest

import xevlibrary as xev


def rss_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * 4096


def test_usb_frames_are_numpy_arrays_of_the_window(usb):
    device, camera = usb
    camera.set_flat_field(3000)
    frames = list(device.frames(5))
    assert len(frames) == 5
    numbers = [info.frame_number for _, info in frames]
    assert numbers == list(range(numbers[0], numbers[0] + 5))
    for frame, info in frames:
        assert frame.dtype == np.uint16
        assert frame.shape == (device.height, device.width)
        assert frame.flags.owndata is False and frame.flags.writeable  # adopted, not copied
        assert 0 < frame.min() and frame.max() < 1 << 14  # 14-bit pixels
    assert not device.is_capturing


def test_gige_open_by_ip_and_mac_then_capture(gige):
    manager, camera = gige
    descriptors = manager.descriptors()
    assert [(d.connector, d.model_id) for d in descriptors] == [("GIGE", "HeronGigE")]
    by_ip = manager.open_by_ip(camera.address)
    # One camera, one device, whatever it is opened by.
    assert manager.open_by_mac(camera.mac_address) is by_ip
    assert manager.open_by_serial(descriptors[0].serial_number) is by_ip
    with pytest.raises(xev.XEVException, match=r"^Error : .*param\(Nope\) does not exist"):
        by_ip.set("Nope", 1.0)
    frames = list(by_ip.frames(3))
    assert len(frames) == 3
    for frame, info in frames:
        assert frame.dtype in (np.uint16, np.uint8)
        assert frame.shape[:2] == (info.height, info.width)
    assert not by_ip.is_capturing


def test_parameters_by_name_as_text_and_number(usb):
    device, _ = usb
    names = device.param_names()
    assert "Exposure Time" in names
    device.set("Exposure Time", "2ms")
    assert device.get("Exposure Time") == "2ms"
    assert isinstance(device.get_number("Exposure Time"), float)
    with pytest.raises(xev.XEVException) as raised:
        device.set("No Such Parameter", 1.0)
    assert str(raised.value).startswith("Error : ") or str(raised.value).startswith(
        "CriticalError : ")
    assert isinstance(raised.value, RuntimeError)


def test_a_callback_that_raises_ends_the_capture_and_raises_in_the_caller(usb):
    device, _ = usb
    seen = []

    def callback(frame, info):
        seen.append(info.frame_number)
        if len(seen) == 3:
            raise ValueError("third frame refused")

    observer = device.observe(callback)
    device.capture_n_frames(1000)
    with pytest.raises(ValueError, match="third frame refused"):
        device.wait_end_capture(5000)
    assert len(seen) == 3  # no call after the failure
    observer.close()  # raised once only
    assert not device.is_capturing


def test_a_callback_runs_on_the_library_thread_with_a_copy(usb):
    device, _ = usb
    kept = []
    with device.observe(lambda frame, info: kept.append((frame, info.frame_number))):
        device.capture_n_frames(4)
        assert device.wait_end_capture(5000)
    assert len(kept) == 4
    assert all(frame.dtype == np.uint16 and frame.flags.writeable for frame, _ in kept)


def test_breaking_out_of_an_endless_iteration_stops_the_capture(usb):
    device, camera = usb
    for count, (frame, info) in enumerate(device.frames()):
        if count == 3:
            break
    # The for loop dropped the iterator: the capture is over.
    assert not device.is_capturing
    # A new capture starts and ends. (On the emulated USB camera the first
    # capture after a stopped continuous one misses its first frame.)
    assert len(list(device.frames(3))) >= 2
    assert not device.is_capturing

    frames = device.frames()
    next(frames)
    frames.close()
    assert not device.is_capturing
    with pytest.raises(StopIteration):
        next(frames)


def test_the_interpreter_runs_while_the_iterator_waits(usb):
    device, _ = usb
    device.fps = device.min_fps  # slow frames: the wait is mostly without the lock
    ticks = []
    stop = threading.Event()

    def ticker():
        while not stop.is_set():
            ticks.append(1)
            time.sleep(0.001)

    thread = threading.Thread(target=ticker)
    thread.start()
    try:
        for _ in device.frames(2):
            pass
    finally:
        stop.set()
        thread.join()
    assert len(ticks) > 0


def test_no_leak_after_1000_frames(usb):
    device, _ = usb
    gc.collect()  # the garbage of earlier tests may hold the device
    frames_ref = sys.getrefcount(device)
    count = 0
    frames = device.frames(queue_size=4)
    for frame, info in frames:
        # The variable and the argument: nothing else holds them.
        assert sys.getrefcount(frame) == 2 and sys.getrefcount(info) == 2
        if count == 99:
            gc.collect()
            rss = rss_bytes()
        if count == 1099:
            break
        count += 1
    # The arrays Python dropped lent their buffers to the next frames.
    assert frames.buffer_allocations <= 4
    del frames
    gc.collect()
    frame_bytes = device.width * device.height * 2
    growth = rss_bytes() - rss
    # A frame leaked per frame would be 1000 frames; allocator slack is a few.
    # (AddressSanitizer holds freed memory back on purpose.)
    if os.environ.get("XEV_SANITIZER") != "address":
        assert growth < 100 * frame_bytes, "resident memory grew by %d bytes" % growth
    assert sys.getrefcount(device) == frames_ref

    calls = []
    callback = lambda frame, info: calls.append(None)  # noqa: E731
    callback_ref = sys.getrefcount(callback)
    with device.observe(callback, copy=False):
        device.capture_n_frames(1000)
        device.wait_end_capture(10000)
    assert calls
    assert sys.getrefcount(callback) == callback_ref
