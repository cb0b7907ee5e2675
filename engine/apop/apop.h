#pragma once
// The digest library: MD5 of a zero-terminated text, as 32 lower-case hexadecimal digits.
#ifdef __cplusplus
extern "C" {
#endif

// `resultado` receives 33 bytes: the digits and a terminating zero.
void MDString(const char* texto, char* resultado);

#ifdef __cplusplus
}
#endif
