"""Toolbox stages on numpy arrays."""

import numpy as np
import pytest

import xevlibrary as xev

IMAGE = np.array([[1, 2, 3], [4, 5, 6]], np.uint8)


@pytest.mark.parametrize(
    "stage, expected",
    [
        (xev.toolbox.flip_h, [[4, 5, 6], [1, 2, 3]]),  # about the horizontal axis
        (xev.toolbox.flip_v, [[3, 2, 1], [6, 5, 4]]),  # about the vertical axis
    ],
)
def test_flips_reverse_rows_or_columns(stage, expected):
    out = stage(IMAGE)
    assert out.dtype == np.uint8 and out.tolist() == expected
    assert IMAGE.tolist() == [[1, 2, 3], [4, 5, 6]]  # the input is untouched


def test_colour_map_gives_three_channels_and_gain_control_eight_bits():
    assert xev.toolbox.color_map(IMAGE).shape == (2, 3, 3)
    stretched = xev.toolbox.automatic_gain_control(np.array([[1000, 3000]], np.uint16))
    assert stretched.dtype == np.uint8 and stretched[0, 0] < stretched[0, 1]


def test_a_stage_refuses_an_image_it_does_not_take():
    with pytest.raises(xev.XEVException, match="does not take 1-channel images of OpenCV depth 2"):
        xev.toolbox.flip_h(np.zeros((2, 2), np.uint16))
    with pytest.raises(xev.XEVException, match="uint8 or uint16"):
        xev.toolbox.flip_h(np.zeros((2, 2), np.float32))
