#include "mysql/MySqlSslLib.h"

#include <mutex>

#include "platform/runtime/DynLib.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Format.h"
#include "platform/runtime/SyncObjs.h"

namespace {

constexpr char SNotLoaded[] =
    "OpenSSL client library couldn't be loaded. Please place %s and %s to system folder (included to PATH) "
    "or to the folder with executable unit of main program.";
constexpr char SNotLinked[] = "SSL function is not linked. You should update SSL client library.";
constexpr char SInitFailed[] = "SSL library initialization failed";

// Process-wide: the two libraries are loaded once for every connection, and freed at exit.
struct TSslLoader {
  TCriticalSection Lock;
  std::string CryptoName = "libcrypto.so.3";
  std::string SslName = "libssl.so.3";
  TDynLib Crypto;
  TDynLib Ssl;
  TSslLib Api{};
  bool Ready = false;
};

TSslLoader& Loader() {
  static TSslLoader loader;
  return loader;
}

template <typename F>
void Bind(const TDynLib& lib, const char* name, F& slot) {
  slot = lib.Function<F>(name);
  if (slot == nullptr) throw Exception(std::string(SNotLinked) + "\r\n" + name + " (" + lib.Name() + ")");
}

void BindSsl(const TDynLib& ssl, TSslLib& api) {
  Bind(ssl, "OPENSSL_init_ssl", api.OPENSSL_init_ssl);
  Bind(ssl, "TLS_client_method", api.TLS_client_method);
  Bind(ssl, "SSL_CTX_new", api.SSL_CTX_new);
  Bind(ssl, "SSL_CTX_free", api.SSL_CTX_free);
  Bind(ssl, "SSL_CTX_ctrl", api.SSL_CTX_ctrl);
  Bind(ssl, "SSL_CTX_set_cipher_list", api.SSL_CTX_set_cipher_list);
  Bind(ssl, "SSL_CTX_set_ciphersuites", api.SSL_CTX_set_ciphersuites);
  Bind(ssl, "SSL_CTX_set_verify", api.SSL_CTX_set_verify);
  Bind(ssl, "SSL_CTX_load_verify_locations", api.SSL_CTX_load_verify_locations);
  Bind(ssl, "SSL_CTX_use_certificate_file", api.SSL_CTX_use_certificate_file);
  Bind(ssl, "SSL_CTX_use_PrivateKey_file", api.SSL_CTX_use_PrivateKey_file);
  Bind(ssl, "SSL_CTX_check_private_key", api.SSL_CTX_check_private_key);
  Bind(ssl, "SSL_new", api.SSL_new);
  Bind(ssl, "SSL_free", api.SSL_free);
  Bind(ssl, "SSL_set_bio", api.SSL_set_bio);
  Bind(ssl, "SSL_set_connect_state", api.SSL_set_connect_state);
  Bind(ssl, "SSL_do_handshake", api.SSL_do_handshake);
  Bind(ssl, "SSL_read", api.SSL_read);
  Bind(ssl, "SSL_write", api.SSL_write);
  Bind(ssl, "SSL_get_error", api.SSL_get_error);
  Bind(ssl, "SSL_get0_param", api.SSL_get0_param);
  Bind(ssl, "SSL_get_verify_result", api.SSL_get_verify_result);
  Bind(ssl, "SSL_shutdown", api.SSL_shutdown);
}

void BindCrypto(const TDynLib& crypto, TSslLib& api) {
  Bind(crypto, "ERR_get_error", api.ERR_get_error);
  Bind(crypto, "ERR_error_string_n", api.ERR_error_string_n);
  Bind(crypto, "ERR_clear_error", api.ERR_clear_error);
  Bind(crypto, "X509_VERIFY_PARAM_set1_host", api.X509_VERIFY_PARAM_set1_host);
  Bind(crypto, "X509_VERIFY_PARAM_set1_ip_asc", api.X509_VERIFY_PARAM_set1_ip_asc);
  Bind(crypto, "X509_verify_cert_error_string", api.X509_verify_cert_error_string);
  Bind(crypto, "BIO_get_new_index", api.BIO_get_new_index);
  Bind(crypto, "BIO_meth_new", api.BIO_meth_new);
  Bind(crypto, "BIO_meth_set_write", api.BIO_meth_set_write);
  Bind(crypto, "BIO_meth_set_read", api.BIO_meth_set_read);
  Bind(crypto, "BIO_meth_set_ctrl", api.BIO_meth_set_ctrl);
  Bind(crypto, "BIO_new", api.BIO_new);
  Bind(crypto, "BIO_set_data", api.BIO_set_data);
  Bind(crypto, "BIO_get_data", api.BIO_get_data);
  Bind(crypto, "BIO_set_init", api.BIO_set_init);
}

void Load(TSslLoader& l) {
  // libssl needs libcrypto: load it first so that a configured path is the one libssl binds to.
  if (!l.Crypto.Load(l.CryptoName) || !l.Ssl.Load(l.SslName)) {
    const std::string reason = !l.Crypto.Loaded() ? l.Crypto.LastError() : l.Ssl.LastError();
    l.Crypto.Unload();
    throw EOSError(0, Format(SNotLoaded, {l.CryptoName, l.SslName}) + "\r\n" + reason);
  }
  TSslLib api{};
  BindSsl(l.Ssl, api);
  BindCrypto(l.Crypto, api);
  // OpenSSL 3 sets up its algorithms by itself; only the error texts are asked for.
  if (api.OPENSSL_init_ssl(SslInitLoadSslStrings | SslInitLoadCryptoStrings, nullptr) == 0)
    throw Exception(SInitFailed);
  l.Api = api;
  l.Ready = true;
}

}  // namespace

std::string TSslLib::TakeErrors() const {
  std::string text;
  while (unsigned long error = ERR_get_error()) {
    char buffer[256];
    ERR_error_string_n(error, buffer, sizeof buffer);
    if (!text.empty()) text += "; ";
    text += buffer;
  }
  return text;
}

void SetSslLibraryNames(const std::string& cryptoLib, const std::string& sslLib) {
  TSslLoader& l = Loader();
  std::lock_guard lock(l.Lock);
  l.CryptoName = cryptoLib;
  l.SslName = sslLib;
}

const TSslLib& LoadSslLib() {
  TSslLoader& l = Loader();
  std::lock_guard lock(l.Lock);
  if (l.Ready) return l.Api;
  try {
    Load(l);
  } catch (...) {
    l.Ssl.Unload();
    l.Crypto.Unload();
    throw;
  }
  return l.Api;
}
