// Feeds arbitrary datagrams to every GVCP and GVSP decoder: the discovery
// acknowledge, the acknowledge headers, the stream headers and the image
// leader, plus the FORCEIP text parsers.
#include "Gige/AckHeader.h"
#include "Gige/CmdHeader.h"
#include "Gige/DeviceInfo.h"
#include "Gige/ForceIpAck.h"
#include "Gige/ForceIpCmd.h"
#include "Gige/ImageLeader.h"
#include "Gige/PacketHeader.h"
#include "XEVException.h"
#include "XEVManager.h"

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>

namespace {

// Dumps go to a stream without a buffer, which drops what it is given.
std::ostream nullStream(nullptr);

volatile uint64_t sink;

void Take(uint64_t value) {
    sink = sink + value;
}

void Take(const std::string& text) {
    for (char c : text)
        sink = sink + static_cast<unsigned char>(c);
}

/// Every value read, so that no decoding is optimised away.
template <typename... Values>
void Consume(const Values&... values) {
    (Take(values), ...);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Validation reports why it refuses; read those lines instead of printing them.
    XEVLibrary::XEVManager::setDiagnosticsHandler([](const std::string& line) { Take(line); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace XEVLibrary;
    const CmdHeader discovery(Gvcp::CmdDiscovery, Gvcp::FlagBroadcastAck, 0);

    DeviceInfo info(data, size);
    Consume(info.Valid(discovery), info.Status(), info.Answer(), info.DataBytes(), info.Id(),
            info.DeviceMode(), info.MacAddressHigh(), info.MacAddressLow(), info.IpConfigOptions(),
            info.IpConfigCurrent(), info.CurrentIp(), info.CurrentSubnetMask(),
            info.DefaultGateway(), info.SpecVersion(), info.MacAddress(), info.ManufacturerName(),
            info.ModelName(), info.DeviceVersion(), info.ManufacturerSpecificInformation(),
            info.SerialNumber(), info.UserDefinedName(), IsXEVCamera(info));
    std::ostringstream dump;
    info.Dump(dump);
    info.DumpRaw(dump, size + 16);
    Consume(dump.str());

    DeviceInfo inPlace;
    std::copy_n(data, std::min(size, DeviceInfo::WireSize), inPlace.ReceiveBuffer());
    inPlace.SetReceivedLength(size);
    const DeviceInfo copy(inPlace);
    Consume(copy.SerialNumber(), copy.Valid(discovery));

    const CmdHeader decoded = CmdHeader::Decode(data, size);
    Consume(decoded.Magic(), decoded.Flag(), decoded.CommandId(), decoded.Length(), decoded.Id());
    const AckHeader ack(data, size);
    Consume(ack.Status(), ack.Answer(), ack.Length(), ack.Id(), ack.Complete(),
            ForceIpAck(data, size).Valid(discovery));

    const PacketHeader header(data, size);
    Consume(header.Status(), header.BlockId(), header.ExtendedId(), header.Format(),
            header.PacketId());
    header.Dump(nullStream);
    const PacketHeaderExtension extension(data, size);
    Consume(extension.Status(), extension.Flags(), extension.BlockId64(), extension.PacketId32(),
            extension.Format());
    extension.Dump(nullStream);
    const ImageLeader leader(data, size);
    Consume(leader.DataOffset(), leader.Complete(), leader.PayloadType(), leader.Timestamp(),
            leader.PixelFormat(), leader.EffectiveBitsPerPixel(), leader.Width(), leader.Height());

    // The FORCEIP texts: four fields separated by zero bytes.
    std::string fields[4];
    for (size_t i = 0, field = 0; i < size && field < 4; ++i) {
        if (data[i] == 0)
            ++field;
        else
            fields[field] += static_cast<char>(data[i]);
    }
    try {
        const ForceIpCmd command(fields[0], fields[1], fields[2], fields[3]);
        Consume(command.MacAddressHigh(), command.MacAddressLow(), command.StaticIp());
        command.Dump(nullStream);
    } catch (const XEVException& error) {
        Consume(std::string(error.what()));
    }
    return 0;
}
