#pragma once
// The expression evaluator: recursive descent over the lexer's tokens, computing as it parses
// (no tree). Three value types: numbers (32-bit, wrapping), strings (at most 255 bytes) and
// logicals (-1 true, 0 false); plus references to a variable or an element, which the
// evaluator dereferences only when a value is needed, so assignment targets and indexing see
// the variable itself.
//
// Errors go through numaberr, which prints the line and caret and then throws ExprError out of
// the evaluation; expr() and lexpr() catch it, free the partial values and return 0.
#include <cstdint>

struct Variable;

// Value types; the same codes mark variable types and literal tokens.
constexpr uint8_t V_NONE = 0; // the evaluation failed
constexpr uint8_t V_NUM = 5;
constexpr uint8_t V_STR = 6;
constexpr uint8_t V_LOG = 8;
constexpr uint8_t V_VAR = 9;   // reference to a variable
constexpr uint8_t V_ELEM = 64; // reference to an element: var plus the index in number

struct ExprValue {
    int32_t number = 0;      // numeric or logical value, or the index of an element reference
    char text[256] = {};     // string value, NUL-terminated
    uint8_t type = V_NONE;   // one of the V_ codes
    Variable* var = nullptr; // the referenced variable (V_VAR, V_ELEM)
};

constexpr int MAXPOOL = 20; // live partial values of one evaluation

// Evaluates a full expression into v; returns its type (0 on failure). A non-null text starts a
// new scan; null continues from the current token. `op` is left on the first unused token.
int expr(ExprValue& v, const char* text);
// Parses an assignment target (a simple or indexed variable, created when new): 9, 64 or 0.
int lexpr(ExprValue& v, const char* text);
// expr plus a type check printing "String expression required" / "Numeric expression
// required"; 0 on either failure.
int strexpr(ExprValue& v, const char* text);
int numexpr(ExprValue& v, const char* text);

// Turns a reference into a plain value; plain values pass unchanged. Errors go to numaberr.
void rval(ExprValue& v);
void chknum(ExprValue& v);
void chkbool(ExprValue& v);
void chknstr(ExprValue& v);

// Prints a value: strings as they are, logicals as true/false, numbers in decimal.
void pval(const ExprValue& v);
// Formats a plain value the way pval prints it, into out (256 bytes).
void vtext(const ExprValue& v, char* out);
int istrue(int relop, int32_t a, int32_t b);
int strtrue(int relop, const char* a, const char* b);

struct FuncRow;
const FuncRow* isfunc(const char* name);
int32_t vornsetbits();

// Live partial values right now (tests check that every path gives its slots back).
int poolused();
