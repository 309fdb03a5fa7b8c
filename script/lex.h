#pragma once
// The script lexer: turns the text of one script line into tokens for the expression
// evaluator and for the statements that read tokens themselves (for ... in, release, ...).
//
// The whole scanner state is a handful of globals: `linep` is the next unread character,
// `gnextc` a one-character push-back, and `op`/`ival`/`sval` the current token, which is
// always one token of look-ahead. Errors are reported through numaberr (core/fmt.h), which
// prints the line with a caret under `linep` and then calls exprunwind(): inside an expression
// evaluation that throws ExprError, caught at the evaluator's entry (script/expr.cpp).
#include <cstdint>

// Token classes (values of `op`). The literal classes share their codes with the value types
// of the evaluator; punctuation uses its own character code.
enum : int {
    T_END = 0,    // end of line
    T_ADD = 1,    // + -            ival: the character
    T_MUL = 2,    // * / % mod      ival: the character ('%' for mod)
    T_REL = 3,    // relations      ival: 0 = 1 < 2 > 3 <> 4 <= 5 >=
    T_NOT = 4,    // ! not
    T_NUM = 5,    // number         ival: its value
    T_STR = 6,    // string literal sval: the text
    T_LOG = 8,    // true/false     ival: -1 or 0
    T_IDENT = 9,  // identifier     sval: the name, lower case
    T_OR = 10,    // | or ^ xor     ival: 0 or, 1 exclusive or
    T_AND = 11,   // & and
    T_SHIFT = 13, // >> shr << shl  ival: 0 right, 1 left
};

// Relational codes carried in `ival` by T_REL.
enum : int { R_EQ = 0, R_LT = 1, R_GT = 2, R_NE = 3, R_LE = 4, R_GE = 5 };

constexpr int NAMELEN = 10; // longest identifier
constexpr int STRMAX = 255; // longest string value

// Thrown by exprunwind() to leave an expression evaluation; caught only at expr()/lexpr().
struct ExprError {};

inline const char* linep = "";  // next unread character of the line being scanned
inline int gnextc = 0;          // pushed-back character, 0 = none
inline const char* glinep = ""; // start of the line being executed (for the error caret)
inline int op = T_END;          // class of the current token
inline int32_t ival = 0;        // value of the current token
inline char sval[256];          // text of the current token
inline int inexpr = 0;          // an expression evaluation is in progress
inline int inlexpr = 0;         // the left-hand side of an assignment is being parsed

// Starts scanning `text` (clears the push-back) and loads the first token.
void lexstart(const char* text);
// Reads the next token into op/ival/sval.
void etoken();
// Next character of the line (push-back first), -1 at the end (linep stays on the end).
int lnextc();
bool isvarchar(int c);

// The error hook numaberr calls after printing: resets the token to end of line and, when an
// evaluation is in progress, leaves it by throwing ExprError. Outside one it returns.
void exprunwind();
// Column of the scan position within the executed line, for the caret of numaberr; 0 when the
// scan is not inside that line.
int errcolumn();

// Decodes a quoted string starting just after its opening `quote`, with the string escapes
// (^c, \ooo, \xhh, \n and friends). Stops after the closing quote; `p` is left there, or at
// the point of the error. Writes at most `cap`-1 bytes and a NUL to `out`. Returns the stored
// length, or -1 for a bad escape or a missing closing quote.
int scanstr(const char*& p, int quote, char* out, int cap);
// Decodes escapes in a whole unquoted text (no closing quote expected); -1 on a bad escape.
int cvtstr(const char* text, char* out, int cap);
