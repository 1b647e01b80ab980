int TavrinTestSupportPlaceholder() { return 0; }
