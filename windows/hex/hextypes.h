#pragma once
// Small enumerations shared by the hex editor model, its grid, the dump printer and the window.

// How an offset (or, when printing, a byte value) is written.
enum TOffsetDisplayStyle { odHex = 0, odDec = 1, odNone = 2 };

// Shape of the caret in the grid.
enum TCaretStyle { csFull = 0, csLeftLine = 1, csBottomLine = 2 };

// The two blocks of the grid the caret can stand in.
enum THexArea { haHex = 0, haChar = 1 };

// Origins of THexBuffer::Seek.
enum THexSeekOrigin { soFromStart, soFromCaret, soFromEnd, soNone };
