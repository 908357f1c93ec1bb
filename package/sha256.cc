// sha256.cc: SHA-256 (FIPS 180-4) buffering, padding and the choice of block
// function. The block functions are in sha256_portable.cc and
// sha256_x86.cc.
#include <algorithm>
#include <atomic>
#include <cstring>

#include "package/crypto_sha256.h"
#include "package/package.h"

namespace {

Sha256BlockFunction auto_block_function() {
  if (sha256_blocks_sha_extensions != nullptr && sha256_cpu_has_sha_extensions()) {
    return sha256_blocks_sha_extensions;
  }
  return sha256_blocks_portable;
}

// Chosen once on first use; sha256_select_engine may change it later.
std::atomic<Sha256BlockFunction>& block_function() {
  static std::atomic<Sha256BlockFunction> fn{auto_block_function()};
  return fn;
}

std::atomic<Sha256Engine> g_engine{Sha256Engine::kAuto};

inline void store_be32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

}  // namespace

Sha256Engine sha256_select_engine(Sha256Engine engine) {
  block_function().store(engine == Sha256Engine::kPortable ? sha256_blocks_portable
                                                           : auto_block_function());
  return g_engine.exchange(engine);
}

bool sha256_using_sha_extensions() {
  const Sha256BlockFunction fn = block_function().load();
  return fn != nullptr && fn == sha256_blocks_sha_extensions;
}

void sha256_init(Sha256* ctx) {
  static const uint32_t kInitial[8] = {0x6A09E667u, 0xBB67AE85u, 0x3C6EF372u, 0xA54FF53Au,
                                       0x510E527Fu, 0x9B05688Cu, 0x1F83D9ABu, 0x5BE0CD19u};
  std::memcpy(ctx->state, kInitial, sizeof kInitial);
  ctx->total_bytes = 0;
  ctx->block_used = 0;
  std::memset(ctx->block, 0, sizeof ctx->block);
}

void sha256_update(Sha256* ctx, const uint8_t* data, size_t length) {
  if (length == 0) return;
  const Sha256BlockFunction blocks = block_function().load(std::memory_order_relaxed);
  ctx->total_bytes += length;
  if (ctx->block_used != 0) {
    const size_t take = std::min(length, sizeof ctx->block - ctx->block_used);
    std::memcpy(ctx->block + ctx->block_used, data, take);
    ctx->block_used += take;
    data += take;
    length -= take;
    if (ctx->block_used < sizeof ctx->block) return;
    blocks(ctx->state, ctx->block, 1);
    ctx->block_used = 0;
  }
  // Whole blocks straight from the caller's memory.
  const size_t whole = length / 64;
  if (whole != 0) {
    blocks(ctx->state, data, whole);
    data += whole * 64;
    length -= whole * 64;
  }
  if (length != 0) {
    std::memcpy(ctx->block, data, length);
    ctx->block_used = length;
  }
}

void sha256_final(Sha256* ctx, uint8_t digest[32]) {
  const Sha256BlockFunction blocks = block_function().load(std::memory_order_relaxed);
  const uint64_t bit_length = ctx->total_bytes * 8;
  size_t used = ctx->block_used;
  ctx->block[used++] = 0x80;
  if (used > 56) {
    std::memset(ctx->block + used, 0, 64 - used);
    blocks(ctx->state, ctx->block, 1);
    used = 0;
  }
  std::memset(ctx->block + used, 0, 56 - used);
  for (int i = 0; i < 8; ++i) {
    ctx->block[56 + i] = static_cast<uint8_t>(bit_length >> (56 - 8 * i));
  }
  blocks(ctx->state, ctx->block, 1);
  for (int i = 0; i < 8; ++i) store_be32(digest + 4 * i, ctx->state[i]);
  // Leave nothing of the message behind in the context.
  std::memset(ctx, 0, sizeof *ctx);
}

void sha256(const uint8_t* data, size_t length, uint8_t digest[32]) {
  Sha256 ctx;
  sha256_init(&ctx);
  sha256_update(&ctx, data, length);
  sha256_final(&ctx, digest);
}
