#pragma once
// The service pages' place in the shell: the openers of the communication
// and test pattern pages.
namespace ServicePages {

// Sets the openers of the service pages; the shell calls it once its main
// window exists (tests after PageRegistry::reset()).
void install();

}  // namespace ServicePages
