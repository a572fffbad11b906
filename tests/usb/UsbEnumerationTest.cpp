#include "XEVCatalog.h"
#include "XEVDeviceDescriptorUsb.h"
#include "XEVException.h"
#include "XEVModelConfiguration.h"
#include "XEVUsbCameraEmulator.h"
#include "usb/UsbSeam.h"
#include "usb/XEVTransfert.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace XEVLibrary;
using namespace XEVLibrary::Emulator;

namespace {

using Descriptors = std::vector<std::unique_ptr<XEVDeviceDescriptorUsb>>;

Descriptors enumerate() {
    Descriptors descriptors;
    enumerateUsbCameras(descriptors);
    return descriptors;
}

std::size_t count(const std::vector<XEVUsbCameraEvent>& events, uint8_t request) {
    return std::size_t(std::count_if(events.begin(), events.end(), [&](const auto& e) {
        return e.kind == XEVUsbCameraEvent::Kind::Control && e.request == request;
    }));
}

struct ModelCase {
    UsbModel model;
    UsbLink link;
    const char* modelId;
};

class Recognition : public ::testing::TestWithParam<ModelCase> {};

} // namespace

TEST_P(Recognition, FillsTheDescriptorFromTheInfoLine) {
    const ModelCase& c = GetParam();
    XEVUsbEmulatedBus bus;
    auto config = XEVUsbCameraConfig::forModel(c.model, c.link);
    config.serialNumber = 0x12A000u + config.referenceId;
    auto camera = bus.plug(config);
    const Descriptors descriptors = enumerate();
    ASSERT_EQ(1u, descriptors.size());
    const XEVDeviceDescriptorUsb& d = *descriptors[0];
    const bool usb3 = c.link == UsbLink::USB3;
    EXPECT_EQ(usb3 ? USB3 : USB2, d.connectorType());
    EXPECT_EQ(0, d.connectorNumber());
    EXPECT_EQ(c.modelId, d.modelId());
    EXPECT_EQ(config.firmwareVersion, d.firmwareVersion());
    EXPECT_EQ(config.serialNumber, d.serialNumber());
    EXPECT_EQ(XEVCatalog::FLAG_INFO_LINE, d.flags());
    EXPECT_EQ(config.capacity, d.capacity());
    EXPECT_EQ(config.sensorWidth, d.SensorWidth());
    EXPECT_EQ(config.sensorHeight, d.SensorHeight());
    EXPECT_EQ(usb3 ? FX3 : FX2, d.fxType());
    EXPECT_EQ(config.bcdUSB, d.bcdUSB());
    EXPECT_EQ(usb3 ? 0x2010Au : 0x10300u, d.usbFirmwareVersion());
    EXPECT_TRUE(d.usbDevice());

    // Exactly one catalog configuration fits (the selection throws otherwise).
    const XEVModelConfiguration* configuration = nullptr;
    ASSERT_NO_THROW(configuration = XEVCatalog::getInstance()->selectModelConfiguration(d));
    ASSERT_TRUE(configuration);
    EXPECT_EQ(c.modelId, configuration->modelId());
    EXPECT_EQ(d.connectorType(), configuration->connectorType());

    // The camera is left quiet, register 0 cleared.
    EXPECT_FALSE(camera->isStreaming());
    EXPECT_EQ(0, camera->registerValue(0));
    const auto events = camera->vendorRequests();
    EXPECT_EQ(usb3 ? 1u : 0u, count(events, 0xD7)) << "0xD7 only from bridge firmware 2.0.0";
    EXPECT_EQ(6u, count(events, 0xD3));
}

constexpr UsbLink U2 = UsbLink::USB2, U3 = UsbLink::USB3;
INSTANTIATE_TEST_SUITE_P(
    EveryModel, Recognition,
    ::testing::Values(
        ModelCase{UsbModel::Auklet, U2, "Auklet"}, ModelCase{UsbModel::Bittern, U2, "Bittern"},
        ModelCase{UsbModel::Fulmar, U2, "Fulmar"}, ModelCase{UsbModel::Heron, U2, "Heron"},
        ModelCase{UsbModel::Heron, U3, "Heron"}, ModelCase{UsbModel::Ibis, U2, "Ibis"},
        ModelCase{UsbModel::Ibis, U3, "Ibis"}, ModelCase{UsbModel::Jacana, U2, "Jacana"},
        ModelCase{UsbModel::Jacana, U3, "Jacana"}, ModelCase{UsbModel::Lapwing, U2, "Lapwing"},
        ModelCase{UsbModel::Lapwing, U3, "Lapwing"}, ModelCase{UsbModel::Dunlin, U3, "Dunlin"},
        ModelCase{UsbModel::Curlew, U3, "Curlew"}, ModelCase{UsbModel::Gannet, U3, "Gannet_HD"},
        ModelCase{UsbModel::Kestrel, U3, "Kestrel"}, ModelCase{UsbModel::Merlin, U3, "Merlin"},
        ModelCase{UsbModel::Egret, U3, "Egret"}),
    [](const ::testing::TestParamInfo<ModelCase>& info) {
        return std::string(info.param.modelId) + (info.param.link == U2 ? "Usb2" : "Usb3");
    });

TEST(Enumeration, IdentityFromTheUsbDescriptors) {
    XEVUsbEmulatedBus bus;
    auto other = XEVUsbCameraConfig::forModel(UsbModel::Heron, UsbLink::USB3);
    other.productId = 0x1005; // not a camera of ours
    bus.plug(other);
    auto fx3OnUsb2 = XEVUsbCameraConfig::forModel(UsbModel::Heron, UsbLink::USB3);
    fx3OnUsb2.productId = 0x1004;
    fx3OnUsb2.bcdUSB = 0x0210;
    fx3OnUsb2.productString = "USB3";
    fx3OnUsb2.bridgeFirmware = "x002.001.010"; // not a version: 1.0.0
    bus.plug(fx3OnUsb2);
    auto noSerial = XEVUsbCameraConfig::forModel(UsbModel::Jacana, UsbLink::USB2);
    noSerial.productString = "USB2";
    noSerial.bridgeFirmware = "";
    bus.plug(noSerial);
    auto unknown = XEVUsbCameraConfig::forModel(UsbModel::Kestrel);
    unknown.referenceId = 999; // no model of the catalog
    bus.plug(unknown);

    testing::internal::CaptureStdout();
    const Descriptors descriptors = enumerate();
    const std::string printed = testing::internal::GetCapturedStdout();
    ASSERT_EQ(3u, descriptors.size());
    // Connector numbers are positions in the USB list, skipped devices included.
    EXPECT_EQ(1, descriptors[0]->connectorNumber());
    EXPECT_EQ(USB2, descriptors[0]->connectorType());
    EXPECT_EQ(FX3, descriptors[0]->fxType());
    EXPECT_EQ(0x10000u, descriptors[0]->usbFirmwareVersion());
    EXPECT_EQ(0x0210, descriptors[0]->bcdUSB());
    EXPECT_EQ("Heron", descriptors[0]->modelId());
    EXPECT_EQ(2, descriptors[1]->connectorNumber());
    EXPECT_EQ(FX2, descriptors[1]->fxType());
    EXPECT_EQ(0x10000u, descriptors[1]->usbFirmwareVersion());
    EXPECT_EQ("Jacana", descriptors[1]->modelId());
    // An unknown model stays listed, unidentified.
    EXPECT_EQ(3, descriptors[2]->connectorNumber());
    EXPECT_EQ("", descriptors[2]->modelId());
    EXPECT_EQ(0u, descriptors[2]->flags());
    EXPECT_NE(std::string::npos,
              printed.find("CriticalError : RefId (999) is not corresponding to any ModelId in "
                           "XEVCatalog."));
}

// Cameras that show no info line, or that another program holds, stay listed
// unidentified; only failed reads reset a camera, and a held one is left alone.
TEST(Enumeration, CamerasThatCannotBeIdentifiedStayListedUnidentified) {
    XEVUsbEmulatedBus bus;
    auto quiet = bus.plug(XEVUsbCameraConfig::forModel(UsbModel::Kestrel));
    quiet->setPacing(XEVUsbPacing::Fastest);
    quiet->injectShortReads(50, 1000); // never the full 1024 bytes
    auto failing = bus.plug(XEVUsbCameraConfig::forModel(UsbModel::Heron, UsbLink::USB2));
    failing->injectBulkErrors(50, UsbError::IO);
    auto held = bus.plug(XEVUsbCameraConfig::forModel(UsbModel::Heron));
    held->holdInterface(true);
    const Descriptors descriptors = enumerate();
    ASSERT_EQ(3u, descriptors.size());
    for (const auto& d : descriptors) {
        EXPECT_EQ("", d->modelId());
        EXPECT_EQ(0u, d->flags());
        EXPECT_EQ(0u, d->serialNumber());
        EXPECT_EQ(0, d->SensorWidth());
    }
    const auto resets = [](const std::shared_ptr<XEVUsbEmulatedCamera>& camera) {
        const auto events = camera->events();
        return std::count_if(events.begin(), events.end(), [](const auto& e) {
            return e.kind == XEVUsbCameraEvent::Kind::Reset;
        });
    };
    EXPECT_EQ(0, resets(quiet));
    EXPECT_EQ(50, resets(failing));
    EXPECT_EQ(0, resets(held));
    for (const auto& camera : {quiet, failing})
        EXPECT_EQ(50u, count(camera->events(), 0xD0));
    EXPECT_EQ(0u, count(held->events(), 0xD0));
    EXPECT_EQ(0u, held->deliveredFrames());
    for (const auto& camera : {quiet, failing, held}) {
        EXPECT_EQ(0, camera->registerValue(0));
        EXPECT_FALSE(camera->isStreaming());
    }
}
