// SPDX-License-Identifier: Apache-2.0
// A plug-in that cannot load: it calls a function that no library defines.

void functionThatIsDefinedNowhere();

void touch() { functionThatIsDefinedNowhere(); }
