// crypto_tomcrypt.h: LibTomCrypt with the LibTomMath descriptor. Internal.
#pragma once

// Debian's LibTomCrypt is built with LibTomMath; the define exposes ltm_desc.
#ifndef LTM_DESC
#define LTM_DESC
#endif
#include <tomcrypt.h>
#include <tommath.h>

// Sets LibTomCrypt's math descriptor to LibTomMath and registers its SHA-256
// descriptor, once per process (thread-safe). Returns the hash index to pass
// to LibTomCrypt, or -1 if the registration failed.
int crypto_tomcrypt_sha256_index();
