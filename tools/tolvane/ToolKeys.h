#pragma once
#include <string>
#include <vector>

#include "HostConfig.h"

// The session keys `tolvane client` and `tolvane server` turn on unless the
// configuration's session section sets them: an operator tries arbitrary
// peers and reconnects ("CleanFraming"), a typed line to a peer that stopped
// reading should end in a visible close ("CloseOnPartialSend"), and traces
// of arbitrary peer bytes are read back ("TraceEscapes").
extern const char* const kToolKeys[3];

// When the section leaves any of kToolKeys out, writes a copy of the
// configuration into `folder` as "NetWork-<section>.ini" with the missing
// keys set to 1 at the start of that section, points `config->file` at the
// copy and lists the keys added in `added`. Empty when the library can start
// on `config->file`, otherwise why the copy could not be written.
std::string TurnOnToolKeys(HostConfig* config, const std::string& folder, std::vector<std::string>* added);
