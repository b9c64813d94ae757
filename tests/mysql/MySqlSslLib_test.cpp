// Our own declarations of the run-time loaded TLS library against OpenSSL's headers.
#include "mysql/MySqlSslLib.h"

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/ssl.h>

static_assert(SslFiletypePem == SSL_FILETYPE_PEM);
static_assert(SslVerifyNone == SSL_VERIFY_NONE && SslVerifyPeer == SSL_VERIFY_PEER &&
              SslX509VOk == X509_V_OK);
static_assert(SslCtrlSetMinProtoVersion == SSL_CTRL_SET_MIN_PROTO_VERSION &&
              SslCtrlSetMaxProtoVersion == SSL_CTRL_SET_MAX_PROTO_VERSION);
static_assert(SslTls12Version == TLS1_2_VERSION && SslTls13Version == TLS1_3_VERSION);
static_assert(SslErrorSsl == SSL_ERROR_SSL && SslErrorWantRead == SSL_ERROR_WANT_READ &&
              SslErrorWantWrite == SSL_ERROR_WANT_WRITE && SslErrorSyscall == SSL_ERROR_SYSCALL &&
              SslErrorZeroReturn == SSL_ERROR_ZERO_RETURN && SslErrorNone == SSL_ERROR_NONE);
static_assert(SslBioTypeSourceSink == BIO_TYPE_SOURCE_SINK && SslBioCtrlFlush == BIO_CTRL_FLUSH);
static_assert(SslInitLoadCryptoStrings == OPENSSL_INIT_LOAD_CRYPTO_STRINGS &&
              SslInitLoadSslStrings == OPENSSL_INIT_LOAD_SSL_STRINGS);
