#pragma once
// Error domains and codes that the network layer reports. Stream failures carry the codes the
// HTTP client tests for: POSIX errno values (Linux numbering) for refused, reset, broken and
// not-connected sockets, kURLErrorNetworkConnectionLost for a connection that closed before the
// response was complete, and the -98xx secure-transport codes for TLS failures.

#include <cerrno>
#include <cstdint>
#include <string>

#include "platform/foundation/Error.h"

namespace zv::net {

// Secure-transport status codes (domain kOSStatusErrorDomain).
inline constexpr const char* kOSStatusErrorDomain = "NSOSStatusErrorDomain";
inline constexpr std::int64_t kSSLProtocolError = -9800;        // malformed TLS traffic
inline constexpr std::int64_t kSSLHandshakeFailed = -9806;      // handshake aborted by the peer
inline constexpr std::int64_t kSSLCertChainInvalid = -9807;     // untrusted or self-signed chain
inline constexpr std::int64_t kSSLUnknownRootCert = -9812;      // chain ends in an unknown root
inline constexpr std::int64_t kSSLNoRootCert = -9813;           // no root certificate / wrong host
inline constexpr std::int64_t kSSLCertExpired = -9814;
inline constexpr std::int64_t kSSLCertNotYetValid = -9815;
inline constexpr std::int64_t kSSLClosedNoNotify = -9816;       // connection closed mid-handshake
inline constexpr std::int64_t kSSLBadCert = -9808;              // the client identity cannot be used
inline constexpr std::int64_t kSSLClientCertificateRefused = -9825;  // the server refused our certificate

// Codes of kURLErrorDomain (foundation's "NSURLErrorDomain").
inline constexpr std::int64_t kURLErrorUnknown = -1;
inline constexpr std::int64_t kURLErrorCancelled = -999;
inline constexpr std::int64_t kURLErrorBadURL = -1000;
inline constexpr std::int64_t kURLErrorTimedOut = -1001;
inline constexpr std::int64_t kURLErrorUnsupportedURL = -1002;
inline constexpr std::int64_t kURLErrorCannotFindHost = -1003;
inline constexpr std::int64_t kURLErrorCannotConnectToHost = -1004;
inline constexpr std::int64_t kURLErrorNetworkConnectionLost = -1005;
inline constexpr std::int64_t kURLErrorHTTPTooManyRedirects = -1007;
inline constexpr std::int64_t kURLErrorBadServerResponse = -1011;
inline constexpr std::int64_t kURLErrorUserCancelledAuthentication = -1012;
inline constexpr std::int64_t kURLErrorUserAuthenticationRequired = -1013;
inline constexpr std::int64_t kURLErrorCannotDecodeContentData = -1016;
inline constexpr std::int64_t kURLErrorCannotParseResponse = -1017;
inline constexpr std::int64_t kURLErrorRequestBodyStreamExhausted = -1021;
inline constexpr std::int64_t kURLErrorDataLengthExceedsMaximum = -1103;
inline constexpr std::int64_t kURLErrorSecureConnectionFailed = -1200;
inline constexpr std::int64_t kURLErrorServerCertificateUntrusted = -1202;
inline constexpr std::int64_t kURLErrorClientCertificateRejected = -1205;

// Malformed HTTP traffic from the server (domain kHTTPStreamErrorDomain).
inline constexpr const char* kHTTPStreamErrorDomain = "HTTPStreamErrorDomain";
inline constexpr std::int64_t kHTTPStreamParseFailure = -1;      // bad status line, chunk size, ...
inline constexpr std::int64_t kHTTPStreamHeaderTooLarge = -2;    // response head over the limit
inline constexpr std::int64_t kHTTPStreamProxyFailure = -3;      // proxy refused CONNECT/SOCKS
inline constexpr std::int64_t kHTTPStreamHostNotFound = -4;      // name resolution failed

// Convenience makers; the localized description says what happened (never a secret).
Ref<Error> makePOSIXError(int errnoValue);
Ref<Error> makeURLError(std::int64_t code, std::string description);
Ref<Error> makeTLSError(std::int64_t code, std::string description);
Ref<Error> makeHTTPStreamError(std::int64_t code, std::string description);

// YES for the failures after which a request on a reused connection is worth one retry on a new
// one (ENOTCONN, EPIPE, ECONNRESET, kURLErrorNetworkConnectionLost).
bool isConnectionLostError(const Error& error);
// YES for the -9849 ... -9800 secure-transport codes.
bool isTLSError(const Error& error);

}  // namespace zv::net
