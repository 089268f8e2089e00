// Accented letters and box-drawing characters as code page 850 bytes. The accents are
// spliced into message texts (each its own literal, so no following letter can extend the
// escape); the box-drawing characters draw the banner.
#pragma once

#define FATONO "\x85"    // à
#define CF1 "\x87"       // ç
#define CIRCONF "\x88"   // ê
#define EGRAVE "\x8A"    // è
#define ICIRCONF "\x8C"  // î
#define ATONO "\xA0"     // á
#define ETONO "\x82"     // é
#define ITONO "\xA1"     // í
#define OTONO "\xA2"     // ó
#define UTONO "\xA3"     // ú
#define FUTONO "\x97"    // ù
#define TILDE "\xA4"     // ñ
#define INTER "\xA8"     // ¿

namespace app {

// The six box-drawing characters of the banner.
struct BoxChars {
  char p1 = '\xC9';  // ╔ top-left
  char p2 = '\xBB';  // ╗ top-right
  char p3 = '\xBC';  // ╝ bottom-right
  char p4 = '\xC8';  // ╚ bottom-left
  char h = '\xCD';   // ═ horizontal edge
  char v = '\xBA';   // ║ vertical edge
};

}  // namespace app
