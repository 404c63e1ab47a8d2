// Placeholder so flowsys builds before its sources land.
