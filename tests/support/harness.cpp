// End-to-end harness: placeholder until the pseudo-terminal runner is written.
