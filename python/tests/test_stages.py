"""Toolbox stages as objects: corrections on numpy arrays, and stages chained
onto a device's capture."""

import numpy as np
import pytest

import xevlibrary as xev


def opencv_matrix(name, values, dt):
    rows, cols = values.shape
    data = ", ".join(str(v) for v in values.ravel().tolist())
    return "%s: !!opencv-matrix\n   rows: %d\n   cols: %d\n   dt: %s\n   data: [ %s ]\n" % (
        name, rows, cols, dt, data)


def write_maps(path, **maps):
    """An OpenCV persistence file of 16-bit ("w") and float ("f") matrices."""
    text = "%YAML:1.0\n---\n"
    for name, values in maps.items():
        text += opencv_matrix(name, values, "w" if values.dtype == np.uint16 else "f")
    path.write_text(text)
    return str(path)


SENSOR_DARK = np.array([[10, 20, 30, 40], [50, 60, 70, 80], [90, 100, 110, 120]], np.uint16)


def test_two_point_correction_of_a_window(tmp_path):
    gain = np.array([[1.0, 2.0, 20.0, 1.5]] * 3, np.float32)
    path = write_maps(tmp_path / "maps.yml", NUCDark=SENSOR_DARK, GainMap=gain)
    # The window of 2 x 2 at column 1, row 1 of the sensor.
    stage = xev.toolbox.NUC2Points(path, 2, 2, offset_x=1, offset_y=1)
    image = np.array([[160, 170], [9000, 5]], np.uint16)
    out = stage(image)
    # rint((in - dark) * gain + 1000), clamped to 0..16383.
    assert out.dtype == np.uint16
    assert out.tolist() == [[1200, 3000], [16383, 0]]
    assert image.tolist() == [[160, 170], [9000, 5]]
    with pytest.raises(xev.XEVException, match="does not take"):
        stage(np.zeros((3, 3), np.uint16))  # not the window's size


def test_one_point_correction_reads_its_maps_at_construction(tmp_path):
    path = write_maps(tmp_path / "dark.yml", NUCDark=SENSOR_DARK)
    stage = xev.toolbox.NUC1Point(path, 3, 1, offset_x=1, offset_y=2)
    assert stage(np.array([[100, 100, 100]], np.uint16)).tolist() == [[1000, 990, 980]]
    with pytest.raises(xev.XEVException, match="NUCDark"):
        xev.toolbox.NUC1Point(path, 5, 1)  # wider than the maps


def nuc_table(dark, gain):
    return "%YAML:1.0\n" + opencv_matrix("NUCDark", np.array(dark, np.uint16), "w") + \
        opencv_matrix("GainMap", np.array(gain, np.float32), "f")


def test_interpolated_nuc_follows_the_exposure_given(tmp_path):
    tables = tmp_path / "NUC" / "40MHz"
    tables.mkdir(parents=True)
    (tables / "NUCFactory_1000.yml").write_text(nuc_table([[0, 0], [0, 0]], [[1, 1], [1, 1]]))
    (tables / "NUCFactory_2000.yml").write_text(nuc_table([[0, 0], [0, 100]], [[2, 2], [2, 2]]))
    stage = xev.toolbox.InterpolatedNuc()
    image = np.array([[100, 200], [300, 400]], np.uint16)
    assert stage(image).tolist() == image.tolist()  # no tables: unchanged
    assert stage.table_count == 0

    with pytest.raises(xev.XEVException, match="needs the device"):
        xev.toolbox.InterpolatedNuc(None, str(tmp_path))


def test_interpolated_nuc_of_a_device_interpolates_between_tables(tmp_path, usb):
    device, _ = usb
    tables = tmp_path / "NUC" / "40MHz"
    tables.mkdir(parents=True)
    (tables / "NUCFactory_1000.yml").write_text(nuc_table([[0, 0], [0, 0]], [[1, 1], [1, 1]]))
    (tables / "NUCFactory_2000.yml").write_text(nuc_table([[0, 0], [0, 100]], [[2, 2], [2, 2]]))
    stage = xev.toolbox.InterpolatedNuc(device, str(tmp_path))
    assert stage.table_count == 2
    assert stage.nuc_root == str(tmp_path) + "/NUC/"
    assert not stage.update("60MHz", 1500.0)
    assert stage.update("40MHz", 1500.0)
    assert stage.current_exposure == 1500.0
    image = np.array([[100, 200], [300, 400]], np.uint16)
    # Dark and gain halfway: trunc(max(in - dark, 0) * gain + 1000).
    assert stage(image).tolist() == [[1150, 1300], [1450, 1525]]
    # The window's origin comes with the frame record: with the origin at
    # (1, 1), the image's first pixel meets the table's pixel (1, 1) (dark
    # 50, gain 1.5); the rest lies outside the table and passes unchanged.
    info = xev.FrameInfo()
    info.offset_x, info.offset_y = 1, 1
    assert stage(image, info).tolist() == [[1075, 200], [300, 400]]


def test_stages_chained_onto_a_capture(usb):
    device, _ = usb
    gain, colours = xev.toolbox.AutomaticGainControl(14), xev.toolbox.ColorMap(2)
    frames = device.frames(3, stages=[gain, colours])
    assert gain.in_chain and colours.in_chain
    with pytest.raises(xev.XEVException, match="in a capture chain"):
        gain(np.zeros((4, 4), np.uint16))
    with pytest.raises(xev.XEVException, match="one capture chain at a time"):
        device.observe(lambda frame, info: None, stages=[colours])
    received = list(frames)
    numbers = [info.frame_number for _, info in received]
    assert numbers == list(range(numbers[0], numbers[0] + 3))
    for frame, info in received:
        assert frame.dtype == np.uint8 and frame.shape == (device.height, device.width, 3)
    # The capture is over: the stages take arrays again.
    assert not gain.in_chain and not colours.in_chain
    assert gain(np.array([[1000, 3000]], np.uint16)).dtype == np.uint8


def test_a_callback_observer_behind_stages(usb):
    device, camera = usb
    camera.set_flat_field(3000)
    shapes = []
    flip = xev.toolbox.FlipH()
    with device.observe(lambda frame, info: shapes.append((frame.dtype, frame.shape)),
                        stages=[xev.toolbox.ManualGainControl(0, 16383), flip]):
        device.capture_n_frames(3)
        assert device.wait_end_capture(5000)
        assert flip.in_chain
    assert not flip.in_chain
    assert shapes == [(np.uint8, (device.height, device.width))] * 3


def test_a_stage_listed_twice_or_not_a_stage_is_refused(usb):
    device, _ = usb
    flip = xev.toolbox.FlipV()
    with pytest.raises(xev.XEVException, match="one capture chain at a time"):
        device.frames(1, stages=[flip, flip])
    with pytest.raises(TypeError, match="toolbox stages"):
        device.frames(1, stages=[flip, np.flipud])
    assert not flip.in_chain and not device.is_capturing
    assert len(list(device.frames(2, stages=[xev.toolbox.ManualGainControl(0, 16383), flip]))) == 2
