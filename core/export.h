#pragma once

// What a shared library shows the others. Every library is compiled with its symbols hidden
// (-fvisibility=hidden, -fvisibility-inlines-hidden): a symbol is exported only when a
// public header declares it between VORDAK_PUBLIC_BEGIN and VORDAK_PUBLIC_END. A header
// without them is internal to its library; tests link the libraries' objects directly and
// reach internal code that way.
//
// The markers go after the header's #include lines, so that the headers they include keep
// their own visibility.
#define VORDAK_PUBLIC_BEGIN _Pragma("GCC visibility push(default)")
#define VORDAK_PUBLIC_END _Pragma("GCC visibility pop")
