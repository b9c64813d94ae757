// The TLS libraries, loaded by name at run time rather than linked: the OpenSSL 3 entry points
// the TLS transport uses, resolved once per process under a process-wide lock.
//
// OpenSSL's headers are not used here: the types are opaque and only pointers to them pass
// through, and the few constants needed are below (a test checks them against the headers).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct ssl_st;
struct ssl_ctx_st;
struct ssl_method_st;
struct bio_st;
struct bio_method_st;
struct X509_VERIFY_PARAM_st;

// Constants of the OpenSSL 3 interface.
enum : int {
  SslFiletypePem = 1,
  SslVerifyNone = 0,
  SslVerifyPeer = 1,
  SslX509VOk = 0,
  SslCtrlSetMinProtoVersion = 123,
  SslCtrlSetMaxProtoVersion = 124,
  SslTls12Version = 0x0303,
  SslTls13Version = 0x0304,
  SslErrorNone = 0,
  SslErrorSsl = 1,
  SslErrorWantRead = 2,
  SslErrorWantWrite = 3,
  SslErrorSyscall = 5,
  SslErrorZeroReturn = 6,
  SslBioTypeSourceSink = 0x0400,
  SslBioCtrlFlush = 11,
};
constexpr uint64_t SslInitLoadCryptoStrings = 0x00000002;
constexpr uint64_t SslInitLoadSslStrings = 0x00200000;

// The resolved entry points. Every pointer is set once LoadSslLib returns.
struct TSslLib {
  using TBioWrite = int (*)(bio_st*, const char*, int);
  using TBioRead = int (*)(bio_st*, char*, int);
  using TBioCtrl = long (*)(bio_st*, int, long, void*);

  // libssl
  int (*OPENSSL_init_ssl)(uint64_t options, const void* settings);
  const ssl_method_st* (*TLS_client_method)();
  ssl_ctx_st* (*SSL_CTX_new)(const ssl_method_st* method);
  void (*SSL_CTX_free)(ssl_ctx_st* context);
  long (*SSL_CTX_ctrl)(ssl_ctx_st* context, int command, long value, void* argument);
  int (*SSL_CTX_set_cipher_list)(ssl_ctx_st* context, const char* ciphers);
  int (*SSL_CTX_set_ciphersuites)(ssl_ctx_st* context, const char* suites);
  void (*SSL_CTX_set_verify)(ssl_ctx_st* context, int mode, void* callback);
  int (*SSL_CTX_load_verify_locations)(ssl_ctx_st* context, const char* caFile, const char* caPath);
  int (*SSL_CTX_use_certificate_file)(ssl_ctx_st* context, const char* file, int type);
  int (*SSL_CTX_use_PrivateKey_file)(ssl_ctx_st* context, const char* file, int type);
  int (*SSL_CTX_check_private_key)(const ssl_ctx_st* context);
  ssl_st* (*SSL_new)(ssl_ctx_st* context);
  void (*SSL_free)(ssl_st* connection);
  void (*SSL_set_bio)(ssl_st* connection, bio_st* readBio, bio_st* writeBio);
  void (*SSL_set_connect_state)(ssl_st* connection);
  int (*SSL_do_handshake)(ssl_st* connection);
  int (*SSL_read)(ssl_st* connection, void* buffer, int count);
  int (*SSL_write)(ssl_st* connection, const void* buffer, int count);
  int (*SSL_get_error)(const ssl_st* connection, int result);
  X509_VERIFY_PARAM_st* (*SSL_get0_param)(ssl_st* connection);
  long (*SSL_get_verify_result)(const ssl_st* connection);
  int (*SSL_shutdown)(ssl_st* connection);

  // libcrypto
  unsigned long (*ERR_get_error)();
  void (*ERR_error_string_n)(unsigned long error, char* buffer, size_t length);
  void (*ERR_clear_error)();
  int (*X509_VERIFY_PARAM_set1_host)(X509_VERIFY_PARAM_st* param, const char* name, size_t length);
  int (*X509_VERIFY_PARAM_set1_ip_asc)(X509_VERIFY_PARAM_st* param, const char* address);
  const char* (*X509_verify_cert_error_string)(long error);
  int (*BIO_get_new_index)();
  bio_method_st* (*BIO_meth_new)(int type, const char* name);
  int (*BIO_meth_set_write)(bio_method_st* method, TBioWrite write);
  int (*BIO_meth_set_read)(bio_method_st* method, TBioRead read);
  int (*BIO_meth_set_ctrl)(bio_method_st* method, TBioCtrl ctrl);
  bio_st* (*BIO_new)(const bio_method_st* method);
  void (*BIO_set_data)(bio_st* bio, void* data);
  void* (*BIO_get_data)(bio_st* bio);
  void (*BIO_set_init)(bio_st* bio, int init);

  // OpenSSL's reasons for the last failure on this thread, oldest first, joined by "; "; the
  // thread's error queue is emptied. Empty when OpenSSL queued none.
  std::string TakeErrors() const;
};

// The library names the next load uses: defaults "libcrypto.so.3" and "libssl.so.3" (file names
// searched the usual way, or paths). Once a load succeeded the loaded libraries stay.
void SetSslLibraryNames(const std::string& cryptoLib, const std::string& sslLib);

// Loads both libraries (once per process), resolves the entry points and initialises OpenSSL.
// Errors: EOSError "OpenSSL client library couldn't be loaded. ..." naming both libraries, with
// the loader's reason on a second line; Exception "SSL function is not linked. You should update
// SSL client library." naming the missing entry point; Exception "SSL library initialization
// failed". A failed load is tried again by the next call.
const TSslLib& LoadSslLib();
