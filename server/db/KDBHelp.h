#pragma once
// Chain helpers on top of KvDataBase: freeing and cutting back chains, and starting and extending
// sub-chains in an order that survives a crash at any write.
//
// A chain must never point to a line that is still free: GetNextFreeLine would hand that line to
// somebody else and two chains would share it. So every helper here marks a new line in use before
// anything points to it, and unlinks lines before it frees them. A crash in between leaves at most
// a line that is in use but unreachable, which costs 64 bytes and nothing else.

#include <cstdint>

class KvDataBase;

// Every line of the chain becomes free (both fields blank). The caller unlinks the chain first
// (clears the value or index entry that leads to it); until the last write the first line stays in
// use as a one-line chain, so a crash in between never leaves a reference to a free line.
void FreeChain(KvDataBase& DB, std::int32_t FirstLine);
// The first line stays as a one-line chain with an empty value; every later line becomes free. A
// chain of a single line is left unchanged, value included.
void TruncateChain(KvDataBase& DB, std::int32_t FirstLine);

// Starts a one-line sub-chain (header "1", empty value) whose first line's position is stored in
// value ValIndex of the item or chain at Index. Returns that position, or 0 when the file could not
// take it.
std::int32_t NewSubChain(KvDataBase& DB, std::int32_t Index, std::int16_t ValIndex);
// The same for a chain whose first line's position lives in a global slot (the G-line list).
std::int32_t NewSlotChain(KvDataBase& DB, int gwIndex);
// Appends a line to the chain whose last line is LastLine and returns it (header "1", its value
// as the free line left it), or 0 when the file could not take it.
std::int32_t ExtendChain(KvDataBase& DB, std::int32_t LastLine);
