#include "base/ids.hpp"

#include "base/base36.hpp"
#include "base/process.hpp"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace core {
namespace {

using Digest = std::array<unsigned char, 64>;
using Bytes16 = std::array<unsigned char, 16>;

constexpr std::string_view kBase36 = "0123456789abcdefghijklmnopqrstuvwxyz";
constexpr std::uint64_t kCounterRange = 476782367;

struct FreeMd {
  void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
};
using MdCtx = std::unique_ptr<EVP_MD_CTX, FreeMd>;
struct FreeMdAlgorithm {
  void operator()(EVP_MD* p) const { EVP_MD_free(p); }
};
using MdAlgorithm = std::unique_ptr<EVP_MD, FreeMdAlgorithm>;

// SHA3-512 with the algorithm fetched and the context made once per thread:
// fetching by name and allocating a context cost more than hashing the
// short inputs identifiers are made from.
class Sha3 {
 public:
  // SHA3-512 of `data`. OpenSSL fails here only when it cannot allocate;
  // the digest then stays zero, which base36_digits still writes as digits.
  Digest digest(std::string_view data) {
    Digest digest{};
    unsigned int size = 0;
    if (md_ && ctx_ && EVP_DigestInit_ex(ctx_.get(), md_.get(), nullptr) == 1 &&
        EVP_DigestUpdate(ctx_.get(), data.data(), data.size()) == 1)
      EVP_DigestFinal_ex(ctx_.get(), digest.data(), &size);
    return digest;
  }

 private:
  MdAlgorithm md_{EVP_MD_fetch(nullptr, "SHA3-512", nullptr)};
  MdCtx ctx_{EVP_MD_CTX_new()};
};

Digest sha3_512(std::string_view data) {
  thread_local Sha3 sha3;
  return sha3.digest(data);
}

// Fills `out` from OpenSSL's generator. Should it ever fail, the system's
// random device stands in: an identifier is still made, never a crash.
void random_bytes(unsigned char* out, size_t size) {
  if (RAND_bytes(out, static_cast<int>(size)) == 1) return;
  std::random_device device;
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<unsigned char>(device());
}

// Random 64-bit values drawn from the generator `count` at a time: one call
// into OpenSSL (which checks for a fork and takes a lock on every call)
// serves a whole identifier. Nothing is kept past the draw of one
// identifier, so a forked process never reuses its parent's values.
class Draws {
 public:
  explicit Draws(size_t count) : values_(count) {
    random_bytes(reinterpret_cast<unsigned char*>(values_.data()), values_.size() * sizeof(std::uint64_t));
  }

  // Uniform in [0, bound) by rejection sampling.
  std::uint64_t below(std::uint64_t bound) {
    const std::uint64_t limit = UINT64_MAX - UINT64_MAX % bound;
    for (;;) {
      const std::uint64_t value = next();
      if (value < limit) return value % bound;
    }
  }

 private:
  std::uint64_t next() {
    if (used_ < values_.size()) return values_[used_++];
    std::uint64_t value = 0;
    random_bytes(reinterpret_cast<unsigned char*>(&value), sizeof value);
    return value;
  }

  std::vector<std::uint64_t> values_;
  size_t used_ = 0;
};

void append_be(std::string& out, std::uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>(i < 8 ? (value >> (8 * i)) & 0xFF : 0));
}

std::string make_fingerprint() {
  std::string material;
  Bytes16 random{};
  for (int i = 0; i < 2; ++i) {
    random_bytes(random.data(), random.size());
    material.append(reinterpret_cast<const char*>(random.data()), random.size());
  }
  append_be(material, static_cast<std::uint64_t>(process_id()), 16);
  append_be(material, std::hash<std::thread::id>{}(std::this_thread::get_id()), 16);
  return base36_digits(sha3_512(material), 32);
}

struct ThreadState {
  std::uint64_t counter = Draws(1).below(kCounterRange);
  std::string fingerprint = make_fingerprint();
};

// The sub-second part in the shortest of the widths 0, 3, 6 and 9 digits
// that holds it exactly.
std::string fraction(long long nanos) {
  char buffer[32];
  if (nanos == 0) return "";
  if (nanos % 1'000'000 == 0)
    std::snprintf(buffer, sizeof buffer, ".%03lld", nanos / 1'000'000);
  else if (nanos % 1'000 == 0)
    std::snprintf(buffer, sizeof buffer, ".%06lld", nanos / 1'000);
  else
    std::snprintf(buffer, sizeof buffer, ".%09lld", nanos);
  return buffer;
}

}  // namespace

std::string new_note_id() {
  thread_local ThreadState state;
  using namespace std::chrono;
  const auto millis = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();

  Draws draws(25);  // 24 characters of entropy, then the leading letter
  std::string input;
  input.reserve(80);
  append_be(input, static_cast<std::uint64_t>(millis), 16);
  for (int i = 0; i < 24; ++i) input.push_back(kBase36[draws.below(36)]);
  append_be(input, state.counter++, 8);
  input += state.fingerprint;

  std::string id(1, kBase36[10 + draws.below(26)]);
  id += base36_digits(sha3_512(input), 23);
  return id;
}

std::string format_timestamp(std::chrono::sys_time<std::chrono::nanoseconds> instant) {
  using namespace std::chrono;
  const auto day = floor<days>(instant);
  const year_month_day date{day};
  const hh_mm_ss<nanoseconds> time{instant - day};
  const long long nanos = time.subseconds().count();

  char buffer[64];
  int n = std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02lld:%02lld:%02lld", static_cast<int>(date.year()),
                        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                        static_cast<long long>(time.hours().count()), static_cast<long long>(time.minutes().count()),
                        static_cast<long long>(time.seconds().count()));
  return std::string(buffer, static_cast<size_t>(n)) + fraction(nanos) + "+00:00";
}

std::string now_timestamp() {
  return format_timestamp(std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now()));
}

}  // namespace core
