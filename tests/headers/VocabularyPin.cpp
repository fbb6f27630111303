// Placeholder; filled in below.
