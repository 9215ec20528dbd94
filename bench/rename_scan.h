/* The attribute scan of the rename benchmark's C programs: the value after
 * key within window bytes, cut at CR, LF or NUL, bytes <= 0x20 trimmed. */
#include <string.h>

static void scan(const unsigned char* m, size_t n, const char* key, size_t window, char* out) {
  size_t k = strlen(key);
  out[0] = 0;
  for (size_t i = 0; i + k <= n; ++i) {
    if (memcmp(m + i, key, k) != 0) continue;
    size_t s = i + k, e = s, stop = s + window < n ? s + window : n;
    while (e < stop && m[e] != '\r' && m[e] != '\n' && m[e] != 0) ++e;
    while (s < e && m[s] <= ' ') ++s;
    while (e > s && m[e - 1] <= ' ') --e;
    memcpy(out, m + s, e - s);
    out[e - s] = 0;
    return;
  }
}
