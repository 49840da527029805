// The accounting file merge: appends one saved accounting file to the full
// accounting file of the run, with a column-header line at every change of
// flavour.
#pragma once

#include <ostream>
#include <string_view>

#include "accounting/run_state.h"

namespace tollbook {

inline constexpr std::string_view kSmtpHeader =
    "IN/OUT Indicator,Date,Time,GWMessage ID,GW Type,GW Priority,UserDomain,UserPO,UserID,"
    "GWAccountID,MsgSubject,GateDomain,GateName,ForeignMsgID,ForeignMsgType,ForeignAddress,"
    "NoRecipients,NoAttnts,ByteSize,Other";
inline constexpr std::string_view kOtherHeader =
    "Sender,AccountID,BillTo,MsgSubject,MsgPriority,Date,Time,GWType,ForeignType,NoAttmnts,"
    "ByteSize,SenderDomain,SenderPO,GateDomain,GateName,NoRecipients,DestUser,rs,"
    "In/Out Indicator";

// "smtp" when the line begins with "I," or "O," (either case), else "other".
Flavour FlavourOfFirstLine(std::string_view line);

// Merges the file at state.AccountingFilePath into fullAccountingOutput:
// decides its flavour from its first line, writes that flavour's header line
// when it differs from the previous file's, then copies every line followed by
// CR LF, adding 1 to state.RecordCount for each and, when parseRecords (the
// summary option) is set, filing it with ParseAccountingRecord. A file without
// any line is merged as nothing and leaves the flavour as it was. Records the
// file's first record number in state.FileFirstRecord.
// Throws FileError when the file cannot be read; write errors are left in the
// stream for the caller to check.
void MergeAccountingFile(RunState& state, std::ostream& fullAccountingOutput, bool parseRecords);

}  // namespace tollbook
