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

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <string>

namespace {

// Validation prints its reasons; keep them out of the fuzzer's output.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
};

NullBuffer nullBuffer;
std::ostream nullStream(&nullBuffer);

volatile uint64_t sink;

void Consume(uint64_t value) {
    sink = sink + value;
}

void Consume(const std::string& text) {
    for (char c : text)
        sink = sink + static_cast<unsigned char>(c);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::cout.rdbuf(&nullBuffer);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace XEVLibrary;
    const CmdHeader discovery(Gvcp::CmdDiscovery, Gvcp::FlagBroadcastAck, 0);

    DeviceInfo info(data, size);
    Consume(info.Valid(discovery));
    Consume(info.Status() + info.Answer() + info.DataBytes() + info.Id() + info.DeviceMode());
    Consume(info.MacAddressHigh() + info.MacAddressLow() + info.IpConfigOptions() +
            info.IpConfigCurrent() + info.CurrentIp() + info.CurrentSubnetMask() +
            info.DefaultGateway());
    Consume(info.SpecVersion());
    Consume(info.MacAddress());
    Consume(info.ManufacturerName());
    Consume(info.ModelName());
    Consume(info.DeviceVersion());
    Consume(info.ManufacturerSpecificInformation());
    Consume(info.SerialNumber());
    Consume(info.UserDefinedName());
    Consume(IsXEVCamera(info));
    std::ostringstream dump;
    info.Dump(dump);
    info.DumpRaw(dump, size + 16);
    Consume(dump.str());

    DeviceInfo inPlace;
    const size_t received = size < DeviceInfo::WireSize ? size : DeviceInfo::WireSize;
    std::copy_n(data, received, inPlace.ReceiveBuffer());
    inPlace.SetReceivedLength(size);
    DeviceInfo copy(inPlace);
    Consume(copy.SerialNumber());
    Consume(copy.Valid(discovery));

    const CmdHeader decoded = CmdHeader::Decode(data, size);
    Consume(decoded.Magic() + decoded.Flag() + decoded.CommandId() + decoded.Length() +
            decoded.Id());

    const AckHeader ack(data, size);
    Consume(ack.Status() + ack.Answer() + ack.Length() + ack.Id() + ack.Complete());
    const ForceIpAck forceIpAck(data, size);
    Consume(forceIpAck.Valid(discovery));

    const PacketHeader header(data, size);
    Consume(header.Status() + header.BlockId() + header.ExtendedId() + header.Format() +
            header.PacketId());
    header.Dump(nullStream);
    const PacketHeaderExtension extension(data, size);
    Consume(extension.Status() + extension.Flags() + extension.BlockId64() +
            extension.PacketId32() + extension.Format());
    extension.Dump(nullStream);

    const ImageLeader leader(data, size);
    Consume(leader.DataOffset() + leader.Complete() + leader.PayloadType() + leader.Timestamp() +
            leader.PixelFormat() + leader.EffectiveBitsPerPixel() + leader.Width() +
            leader.Height());

    // The FORCEIP texts: four fields separated by zero bytes.
    std::string fields[4];
    size_t field = 0;
    for (size_t i = 0; i < size && field < 4; ++i) {
        if (data[i] == 0)
            ++field;
        else
            fields[field] += static_cast<char>(data[i]);
    }
    try {
        const ForceIpCmd command(fields[0], fields[1], fields[2], fields[3]);
        Consume(command.MacAddressHigh() + command.MacAddressLow() + command.StaticIp());
        command.Dump(nullStream);
    } catch (const XEVException& error) {
        Consume(std::string(error.what()));
    }
    return 0;
}
