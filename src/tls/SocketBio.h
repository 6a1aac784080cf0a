#pragma once
#include <openssl/bio.h>

#include "platform/SocketTypes.h"

// A source/sink BIO on a connected socket that never closes it and writes
// without raising SIGPIPE when the peer has gone (OpenSSL's own socket BIO
// writes with write(), which does). Returns null when no BIO can be made.
BIO* NewSocketBio(platform::SOCKET s);

// The socket of a BIO made by NewSocketBio; platform::kInvalidSocket for a null BIO.
platform::SOCKET SocketOfBio(BIO* b);
