// Source lines that traceback entries of the helper functions and the cipher
// services show, in one place.
#pragma once

namespace brantel::ciphers::lines {

// The statements around one library call, one per line:
//   cell = ffi.new("int *")                      cell
//   out = ffi.new("unsigned char [1000]")        output
//   result = lib.op(..., out, cell)               call
//   if result != 1: raise ...                     check
//   if cell[0] > T:                               rerun
//       out = ffi.new("unsigned char []", cell[0])   rerun_buffer
//       if lib.op(..., out, cell) != 1: raise ...     rerun_call
//   return b''.join(...)                          convert
struct Block {
    int cell, output, call, check, rerun, rerun_buffer, rerun_call, convert;
};

// The usual layout, starting with the cell at line `cell`.
constexpr Block block_at(int cell) {
    return {cell, cell + 1, cell + 2, cell + 3, cell + 4, cell + 5, cell + 6, cell + 7};
}

inline constexpr int SHA1 = 55;
inline constexpr int SHA1_LENGTH = 62;  // message_len = len(message)
inline constexpr int SHA1_INPUT = 63;   // message_char = ffi.new("unsigned char []", message)
inline constexpr Block SHA1_BLOCK = block_at(64);

inline constexpr int BASE64_DECODE = 73;
inline constexpr int BASE64_LENGTH = 80;  // cipher_len = len(cipher_txt)
inline constexpr int BASE64_INPUT = 81;   // cipher_txt_char = ffi.new(...)
inline constexpr Block BASE64_BLOCK = block_at(82);

inline constexpr int CHDIR = 90;
inline constexpr int CHDIR_ENCODE = 94;  // path_char = ffi.new("unsigned char []", path.encode())
inline constexpr int CHDIR_CALL = 95;    // return lib.chdir(path_char) == 0

inline constexpr int GETCWD = 98;
inline constexpr int GETCWD_CALL = 103;    // cwd = lib.getcwd(ffi.NULL, 0)
inline constexpr int GETCWD_STRING = 104;  // result = ffi.string(cwd).decode('utf-8')
inline constexpr int GETCWD_FREE = 105;    // lib.free(cwd)

// urandom: num_bytes is converted at the first line; no cell, no re-run.
inline constexpr int URANDOM = 160;
inline constexpr Block URANDOM_BLOCK = {0, 161, 162, 163, 0, 0, 0, 164};

// The AES and RSA services: one line per input buffer from *_INPUTS on, the
// key and IV checks, the block; aes_cbc_decryptor then keeps 12 bytes.
inline constexpr int AES_CBC_DECRYPTOR = 166;
inline constexpr int AES_CBC_DECRYPTOR_INPUTS = 167;
inline constexpr int AES_CBC_DECRYPTOR_KEY_CHECK = 170;
inline constexpr int AES_CBC_DECRYPTOR_IV_CHECK = 172;
inline constexpr Block AES_CBC_DECRYPTOR_BLOCK = block_at(174);
inline constexpr int AES_CBC_DECRYPTOR_KEEP = 182;  // return plaintext[:12]

inline constexpr int AES_CBC_ENCRYPTOR = 193;
inline constexpr int AES_CBC_ENCRYPTOR_INPUTS = 194;
inline constexpr int AES_CBC_ENCRYPTOR_KEY_CHECK = 197;
inline constexpr int AES_CBC_ENCRYPTOR_IV_CHECK = 199;
inline constexpr Block AES_CBC_ENCRYPTOR_BLOCK = block_at(201);

inline constexpr int AES_GCM_ENCRYPTOR = 214;
inline constexpr int AES_GCM_ENCRYPTOR_INPUTS = 215;
inline constexpr int AES_GCM_ENCRYPTOR_KEY_CHECK = 218;
inline constexpr Block AES_GCM_ENCRYPTOR_BLOCK = block_at(220);

inline constexpr int AES_GCM_DECRYPTOR = 232;
inline constexpr int AES_GCM_DECRYPTOR_INPUTS = 233;
inline constexpr int AES_GCM_DECRYPTOR_KEY_CHECK = 236;
inline constexpr Block AES_GCM_DECRYPTOR_BLOCK = block_at(238);

inline constexpr int RSA_ENCRYPTOR = 251;
inline constexpr int RSA_ENCRYPTOR_INPUTS = 252;
inline constexpr Block RSA_ENCRYPTOR_BLOCK = block_at(255);

inline constexpr int RSA_VERIFIER = 269;
inline constexpr int RSA_VERIFIER_INPUTS = 270;
inline constexpr Block RSA_VERIFIER_BLOCK = {0, 0, 273, 0, 0, 0, 0, 0};

}  // namespace brantel::ciphers::lines
