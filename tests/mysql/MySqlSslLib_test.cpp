// The run-time loaded TLS library: our own declarations against OpenSSL's headers, and the
// error reasons the transport's messages carry.
#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/ssl.h>

#include "mysql/MySqlSslLib.h"

static_assert(SslFiletypePem == SSL_FILETYPE_PEM);
static_assert(SslVerifyNone == SSL_VERIFY_NONE);
static_assert(SslCtrlSetMinProtoVersion == SSL_CTRL_SET_MIN_PROTO_VERSION);
static_assert(SslTls12Version == TLS1_2_VERSION);
static_assert(SslErrorSsl == SSL_ERROR_SSL && SslErrorWantRead == SSL_ERROR_WANT_READ &&
              SslErrorWantWrite == SSL_ERROR_WANT_WRITE && SslErrorSyscall == SSL_ERROR_SYSCALL &&
              SslErrorZeroReturn == SSL_ERROR_ZERO_RETURN && SslErrorNone == SSL_ERROR_NONE);
static_assert(SslBioTypeSourceSink == BIO_TYPE_SOURCE_SINK && SslBioCtrlFlush == BIO_CTRL_FLUSH);
static_assert(SslInitLoadCryptoStrings == OPENSSL_INIT_LOAD_CRYPTO_STRINGS &&
              SslInitLoadSslStrings == OPENSSL_INIT_LOAD_SSL_STRINGS);

TEST(MySqlSslLib, TakeErrorsGivesOpenSslReasonsOnceAndEmptiesTheQueue) {
  const TSslLib& lib = LoadSslLib();
  EXPECT_EQ(&lib, &LoadSslLib());
  ssl_ctx_st* context = lib.SSL_CTX_new(lib.TLS_client_method());
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(lib.SSL_CTX_use_certificate_file(context, "/nonexistent/da.pem", SslFiletypePem), 0);
  const std::string reasons = lib.TakeErrors();
  EXPECT_NE(reasons.find("No such file or directory"), std::string::npos) << reasons;
  EXPECT_NE(reasons.find("; "), std::string::npos) << reasons;  // the whole queue, not one entry
  EXPECT_EQ(lib.TakeErrors(), "");
  lib.SSL_CTX_free(context);
}
