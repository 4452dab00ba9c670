#include "platform/messages/message_tables.h"

namespace tessal::platform::messages {

namespace {
constexpr CodeText kCurl[] = {
    {1, "The protocol of the address is not supported."},
    {2, "The transfer could not be initialised."},
    {3, "The address is not properly formatted."},
    {4, "A feature needed for the transfer is not available."},
    {5, "The proxy name could not be resolved."},
    {6, "The host name could not be resolved."},
    {7, "A connection to the server could not be established."},
    {8, "The server's reply could not be understood."},
    {9, "The server denied access to the resource."},
    {16, "An error occurred in the HTTP/2 framing layer."},
    {18, "The transfer ended before all data was received."},
    {22, "The server answered with an HTTP error status."},
    {23, "The received data could not be stored."},
    {26, "The data to send could not be read."},
    {27, "There was not enough memory for the transfer."},
    {28, "The operation timed out."},
    {35, "The secure connection could not be established."},
    {42, "The transfer was aborted."},
    {43, "A function was called with a bad argument."},
    {45, "The network interface could not be used."},
    {47, "The transfer was redirected too many times."},
    {52, "The server answered nothing."},
    {53, "The cryptographic engine was not found."},
    {54, "The cryptographic engine could not be selected."},
    {55, "Sending data over the network failed."},
    {56, "Receiving data from the network failed."},
    {58, "The local client certificate could not be used."},
    {59, "The requested cipher could not be used."},
    {60, "The server's certificate or fingerprint could not be verified."},
    {61, "The content encoding of the answer is not recognised."},
    {63, "The answer is larger than allowed."},
    {64, "The requested level of transport security could not be reached."},
    {66, "The cryptographic engine could not be initialised."},
    {67, "The login was denied."},
    {77, "The file of trusted certificates could not be loaded."},
    {78, "The remote resource was not found."},
    {80, "The secure connection could not be shut down properly."},
    {82, "The revocation list file could not be loaded."},
    {83, "The issuer check of the server's certificate failed."},
    {90, "The server's public key does not match the pinned key."},
    {91, "The status of the server's certificate is not valid."},
    {92, "An error occurred in an HTTP/2 stream."},
    {97, "The proxy handshake failed."},
    {98, "The server requires a client certificate."},
};
}  // namespace

const char* curlText(std::uint32_t result) { return findText(kCurl, result); }

}  // namespace tessal::platform::messages
