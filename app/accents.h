// Accented letters and box-drawing characters as code page 850 bytes. The string forms
// are spliced into message texts (each its own literal, so no following letter can
// extend the escape); the char forms are the program-wide accent variables.
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

// The thirteen accent variables, in the order they are assigned at start.
struct Accents {
  char fatono = FATONO[0];
  char cf1 = CF1[0];
  char circonf = CIRCONF[0];
  char egrave = EGRAVE[0];
  char icirconf = ICIRCONF[0];
  char atono = ATONO[0];
  char etono = ETONO[0];
  char itono = ITONO[0];
  char otono = OTONO[0];
  char utono = UTONO[0];
  char futono = FUTONO[0];
  char tilde = TILDE[0];
  char inter = INTER[0];
};

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
