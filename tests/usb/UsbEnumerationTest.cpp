#include "XEVCatalog.h"
#include "XEVDeviceDescriptorUsb.h"
#include "XEVModelConfiguration.h"
#include "XEVUsbCameraEmulator.h"
#include "usb/UsbSeam.h"
#include "usb/XEVTransfert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

using namespace XEVLibrary;
using namespace XEVLibrary::Emulator;

namespace {

using Descriptors = std::vector<std::unique_ptr<XEVDeviceDescriptorUsb>>;
using Kind = XEVUsbCameraEvent::Kind;

Descriptors enumerate() {
    Descriptors descriptors;
    enumerateUsbCameras(descriptors);
    return descriptors;
}

std::size_t count(const XEVUsbEmulatedCamera& camera, Kind kind, int request = -1) {
    const auto events = camera.events();
    return std::size_t(std::count_if(events.begin(), events.end(), [&](const auto& e) {
        return e.kind == kind && (request < 0 || e.request == request);
    }));
}

// Where a camera was found and how it is reached.
auto identity(const XEVDeviceDescriptorUsb& d) {
    return std::make_tuple(int(d.connectorNumber()), d.connectorType(), d.fxType(),
                           unsigned(d.bcdUSB()), unsigned(d.usbFirmwareVersion()), d.modelId());
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
    EXPECT_EQ(std::make_tuple(0, usb3 ? USB3 : USB2, usb3 ? FX3 : FX2, unsigned(config.bcdUSB),
                              usb3 ? 0x2010Au : 0x10300u, std::string(c.modelId)),
              identity(d));
    EXPECT_EQ(std::make_tuple(config.firmwareVersion, config.serialNumber,
                              XEVCatalog::FLAG_INFO_LINE, config.capacity, config.sensorWidth,
                              config.sensorHeight),
              std::make_tuple(d.firmwareVersion(), d.serialNumber(), d.flags(), d.capacity(),
                              d.SensorWidth(), d.SensorHeight()));
    const XEVModelConfiguration* selected = nullptr; // throws unless exactly one fits
    ASSERT_NO_THROW(selected = XEVCatalog::getInstance()->selectModelConfiguration(d));
    ASSERT_TRUE(selected);
    EXPECT_EQ(c.modelId, selected->modelId());
    EXPECT_EQ(d.connectorType(), selected->connectorType());
    // The camera is left quiet, register 0 cleared.
    EXPECT_FALSE(camera->isStreaming());
    EXPECT_EQ(0, camera->registerValue(0));
    EXPECT_EQ(usb3 ? 1u : 0u, count(*camera, Kind::Control, 0xD7)) << "only from bridge 2.0.0";
    EXPECT_EQ(6u, count(*camera, Kind::Control, 0xD3));
}

constexpr UsbLink U2 = UsbLink::USB2, U3 = UsbLink::USB3;
const ModelCase EveryModel[] = {
    {UsbModel::Auklet, U2, "Auklet"},   {UsbModel::Bittern, U2, "Bittern"},
    {UsbModel::Fulmar, U2, "Fulmar"},   {UsbModel::Heron, U2, "Heron"},
    {UsbModel::Heron, U3, "Heron"},     {UsbModel::Ibis, U2, "Ibis"},
    {UsbModel::Ibis, U3, "Ibis"},       {UsbModel::Jacana, U2, "Jacana"},
    {UsbModel::Jacana, U3, "Jacana"},   {UsbModel::Lapwing, U2, "Lapwing"},
    {UsbModel::Lapwing, U3, "Lapwing"}, {UsbModel::Dunlin, U3, "Dunlin"},
    {UsbModel::Curlew, U3, "Curlew"},   {UsbModel::Gannet, U3, "Gannet_HD"},
    {UsbModel::Kestrel, U3, "Kestrel"}, {UsbModel::Merlin, U3, "Merlin"},
    {UsbModel::Egret, U3, "Egret"}};
INSTANTIATE_TEST_SUITE_P(EveryModel, Recognition, ::testing::ValuesIn(EveryModel),
                         [](const ::testing::TestParamInfo<ModelCase>& info) {
                             return std::string(info.param.modelId) +
                                    (info.param.link == U2 ? "Usb2" : "Usb3");
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

    const Descriptors descriptors = enumerate();
    ASSERT_EQ(3u, descriptors.size());
    // Connector numbers are positions in the USB list, skipped devices included.
    EXPECT_EQ(std::make_tuple(1, USB2, FX3, 0x0210u, 0x10000u, std::string("Heron")),
              identity(*descriptors[0]));
    EXPECT_EQ(std::make_tuple(2, USB2, FX2, 0x0200u, 0x10000u, std::string("Jacana")),
              identity(*descriptors[1]));
    // An unknown model stays listed, unidentified.
    EXPECT_EQ(3, descriptors[2]->connectorNumber());
    EXPECT_EQ("", descriptors[2]->modelId());
    EXPECT_EQ(0u, descriptors[2]->flags());
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
    for (const auto& d : descriptors)
        EXPECT_EQ(std::make_tuple("", 0u, 0u, 0),
                  std::make_tuple(d->modelId(), d->flags(), d->serialNumber(), d->SensorWidth()));
    const struct {
        XEVUsbEmulatedCamera* camera;
        std::size_t resets, starts;
    } cases[] = {{quiet.get(), 0, 50}, {failing.get(), 50, 50}, {held.get(), 0, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.resets, count(*c.camera, Kind::Reset));
        EXPECT_EQ(c.starts, count(*c.camera, Kind::Control, 0xD0));
        EXPECT_EQ(0, c.camera->registerValue(0));
        EXPECT_FALSE(c.camera->isStreaming());
    }
}
