// (filled next)
