#pragma once

#include "common/seriallink.h"

// Serial link messages written out byte by byte, independently of the code under test; the tools'
// own writer and reader of the line serve the tests too.
namespace SerialBytes {

using seriallink::checksumOf;
using seriallink::message;

// The board's control message that the radio link is up.
const QByteArray kLinkUp = QByteArray::fromHex("7f 01 02 01 01 7b");

} // namespace SerialBytes
