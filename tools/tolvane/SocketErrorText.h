#pragma once
#include <string>

// "connection refused (10061)": a Windows socket error number, as the
// library's traces give it ("LastError=10061"), in words and number.
std::string SocketErrorText(int error);
