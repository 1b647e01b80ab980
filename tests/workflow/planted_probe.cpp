// Calls a function of a DLL that the system folder lacks, bound on the first
// call as the product binds its late DLLs and with the product's hooks; the
// test places a stand-in of that name beside it. Exits with 0 when the call
// returns, which it never should.
extern "C" int TavrinAbsent();

int wmain() {
  TavrinAbsent();
  return 0;
}
