#pragma once
// Minimiser library: unconstrained minimisation of a smooth function of n
// unknowns, given a routine that returns the value and fills the gradient.
