// SPDX-License-Identifier: Apache-2.0
// A library that loads but registers no operator.

int emptyPluginValue() { return 42; }
