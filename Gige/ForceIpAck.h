#pragma once

#include "Gige/AckHeader.h"

namespace XEVLibrary {

/// The acknowledge of FORCEIP: the bare 8-byte header.
class ForceIpAck : public AckHeader {
public:
    using AckHeader::AckHeader;

    /// True when the whole header arrived and its ack id, answer and status
    /// match @p cmd; otherwise prints why and returns false.
    bool Valid(const CmdHeader& cmd) const;
};

} // namespace XEVLibrary
