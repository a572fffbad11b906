#include "Gige/ForceIpAck.h"

#include "Gige/CmdHeader.h"

namespace XEVLibrary {

bool ForceIpAck::Valid(const CmdHeader& cmd) const {
    return CheckReceived(ReceivedLength(), Size) && CheckId(Id(), cmd) &&
           CheckAnswer(Answer(), cmd) && CheckStatus(Status());
}

} // namespace XEVLibrary
